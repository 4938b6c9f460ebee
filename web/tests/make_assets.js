#!/usr/bin/env node
// Draws the binary web files (leaf.jpg, sonivale-logo.png, favicon.ico) with a
// canvas in Debian's headless chromium and writes them to web/html/. Run once
// by hand after changing a drawing; the results are committed.
//   node web/tests/make_assets.js
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const htmlDir = path.resolve(__dirname, '..', 'html');

// Runs in the page: returns {name: base64} for every drawing.
function draw() {
  function canvas(w, h) {
    const c = document.createElement('canvas');
    c.width = w;
    c.height = h;
    return c;
  }
  function b64(c, type, quality) {
    return c.toDataURL(type, quality).split(',')[1];
  }

  // A green leaf on a soft background, 640x400, with enough detail that the
  // JPEG is many 4096-byte pieces long.
  const leaf = canvas(640, 400);
  let g = leaf.getContext('2d');
  const sky = g.createLinearGradient(0, 0, 0, 400);
  sky.addColorStop(0, '#dfeee2');
  sky.addColorStop(1, '#9cc4a4');
  g.fillStyle = sky;
  g.fillRect(0, 0, 640, 400);
  // Deterministic speckle (linear congruential generator, fixed seed).
  let seed = 12345;
  const rnd = () => ((seed = (seed * 1103515245 + 12345) >>> 0) / 4294967296);
  for (let i = 0; i < 2500; i++) {
    g.fillStyle = `rgba(40,90,50,${0.05 + 0.1 * rnd()})`;
    g.beginPath();
    g.arc(rnd() * 640, rnd() * 400, 1 + 3 * rnd(), 0, 2 * Math.PI);
    g.fill();
  }
  g.save();
  g.translate(320, 200);
  g.rotate(-0.5);
  const body = g.createLinearGradient(-220, 0, 220, 0);
  body.addColorStop(0, '#2f7d32');
  body.addColorStop(1, '#7cc242');
  g.fillStyle = body;
  g.beginPath();
  g.moveTo(-230, 0);
  g.bezierCurveTo(-120, -150, 120, -150, 230, 0);
  g.bezierCurveTo(120, 150, -120, 150, -230, 0);
  g.fill();
  g.clip(); // veins stay inside the blade
  g.strokeStyle = '#e8f5d0';
  g.lineWidth = 4;
  g.beginPath();
  g.moveTo(-260, 0);
  g.lineTo(225, 0);
  g.stroke();
  g.lineWidth = 2;
  for (let x = -180; x <= 160; x += 40) {
    const reach = 95 * Math.cos((x / 230) * Math.PI / 2);
    for (const side of [-1, 1]) {
      g.beginPath();
      g.moveTo(x, 0);
      g.quadraticCurveTo(x + 25, side * reach * 0.5, x + 55, side * reach);
      g.stroke();
    }
  }
  g.restore();

  // Logo: a level meter glyph and the product name, 240x64, transparent.
  const logo = canvas(240, 64);
  g = logo.getContext('2d');
  const bars = [14, 26, 40, 52, 34, 20];
  bars.forEach((h, i) => {
    g.fillStyle = i < 4 ? '#3ddc84' : '#ffb300';
    g.fillRect(8 + i * 10, 58 - h, 7, h);
  });
  g.fillStyle = '#e6edf3';
  g.font = 'bold 30px "DejaVu Sans", sans-serif';
  g.textBaseline = 'middle';
  g.fillText('sonivale', 76, 33);

  // Favicon: the meter glyph alone, 32x32 and 16x16.
  function icon(size) {
    const c = canvas(size, size);
    const k = c.getContext('2d');
    k.fillStyle = '#10161d';
    k.fillRect(0, 0, size, size);
    const s = size / 32;
    [10, 18, 26, 14].forEach((h, i) => {
      k.fillStyle = i < 3 ? '#3ddc84' : '#ffb300';
      k.fillRect((3 + i * 7) * s, (29 - h) * s, 5 * s, h * s);
    });
    return b64(c, 'image/png');
  }

  return {
    leaf: b64(leaf, 'image/jpeg', 0.92),
    logo: b64(logo, 'image/png'),
    icon32: icon(32),
    icon16: icon(16),
  };
}

// ICO container holding PNG images (each entry: size, offset, length).
function ico(pngs) {
  const header = Buffer.alloc(6 + 16 * pngs.length);
  header.writeUInt16LE(0, 0); // reserved
  header.writeUInt16LE(1, 2); // type: icon
  header.writeUInt16LE(pngs.length, 4);
  let offset = header.length;
  pngs.forEach(({ size, data }, i) => {
    const e = 6 + 16 * i;
    header.writeUInt8(size, e); // width
    header.writeUInt8(size, e + 1); // height
    header.writeUInt8(0, e + 2); // palette colours
    header.writeUInt8(0, e + 3); // reserved
    header.writeUInt16LE(1, e + 4); // colour planes
    header.writeUInt16LE(32, e + 6); // bits per pixel
    header.writeUInt32LE(data.length, e + 8);
    header.writeUInt32LE(offset, e + 12);
    offset += data.length;
  });
  return Buffer.concat([header, ...pngs.map((p) => p.data)]);
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'sonivale-assets-'));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic'],
  });
  try {
    const page = await browser.newPage();
    await page.setContent('<!doctype html><title>assets</title>');
    const out = await page.evaluate(draw);
    const write = (name, buf) => {
      fs.writeFileSync(path.join(htmlDir, name), buf);
      console.log(`${name}: ${buf.length} bytes`);
    };
    write('leaf.jpg', Buffer.from(out.leaf, 'base64'));
    write('sonivale-logo.png', Buffer.from(out.logo, 'base64'));
    write('favicon.ico', ico([
      { size: 32, data: Buffer.from(out.icon32, 'base64') },
      { size: 16, data: Buffer.from(out.icon16, 'base64') },
    ]));
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
