#!/usr/bin/env node
// Loads the audio-level page from the running service in headless Debian
// chromium and checks what an operator sees: the pushed level as number and bar,
// its changes, the disconnected state and the automatic reconnect.
//   node browser_test.js LEVEL_SERVER HTML_DIR
// LEVEL_SERVER is the test program that runs the service on port 7681 with a
// level read from its standard input.
'use strict';

const assert = require('assert');
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const CHROMIUM = '/usr/bin/chromium';
const URL = 'http://127.0.0.1:7681/';
const STEP_MS = 10000; // longest wait for one expected change on the page

let playwright;
try {
  playwright = require('playwright-core');
} catch (e) {
  console.error('playwright-core is missing: run scripts/setup.sh (npm install in web/tests)');
  process.exit(1);
}
if (!fs.existsSync(CHROMIUM)) {
  console.error(`${CHROMIUM} is missing: run scripts/setup.sh`);
  process.exit(1);
}

const [serverPath, htmlDir] = process.argv.slice(2);
if (!serverPath || !htmlDir) {
  console.error('usage: node browser_test.js LEVEL_SERVER HTML_DIR');
  process.exit(2);
}

// The level server as a child: send(lines), waitFor(line), stop().
function startServer() {
  const child = spawn(serverPath, [htmlDir], { stdio: ['pipe', 'pipe', 'inherit'] });
  let out = '';
  const waiters = [];
  child.stdout.on('data', (d) => {
    out += d.toString();
    for (const w of waiters.slice()) w();
  });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  function waitFor(line) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`server never printed "${line}"`)), STEP_MS);
      const check = () => {
        if (out.split('\n').includes(line)) {
          clearTimeout(timer);
          waiters.splice(waiters.indexOf(check), 1);
          resolve();
        }
      };
      waiters.push(check);
      check();
    });
  }
  return {
    ready: () => waitFor('ready'),
    async setLevel(db) {
      child.stdin.write(`${db}\n`);
      await waitFor(`level ${db}`);
    },
    async stop() {
      if (child.exitCode === null) child.stdin.end('quit\n');
      const code = await exited;
      assert.strictEqual(code, 0, 'level server exit status');
    },
    kill: () => child.exitCode === null && child.kill('SIGKILL'),
  };
}

const results = { passed: 0, failed: 0 };
async function check(name, fn) {
  const t0 = Date.now();
  try {
    await fn();
    results.passed++;
    console.log(`ok - ${name} (${Date.now() - t0} ms)`);
  } catch (e) {
    results.failed++;
    console.log(`not ok - ${name}: ${e.message}`);
    throw e;
  }
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'sonivale-chromium-'));
  let server = startServer();
  let browser;
  try {
    await server.ready();
    browser = await playwright.chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--disable-quic'],
    });
    const page = browser.pages()[0] || (await browser.newPage());
    const foreign = [];
    page.on('request', (r) => {
      if (!r.url().startsWith('http://127.0.0.1:7681/')) foreign.push(r.url());
    });
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));

    const levelShown = (text) =>
      page.waitForFunction((t) => document.getElementById('level').textContent === t, text,
        { timeout: STEP_MS });
    const stateIs = (state) =>
      page.waitForFunction((s) => document.body.dataset.state === s, state, { timeout: STEP_MS });

    await server.setLevel(-47);
    await page.goto(URL, { waitUntil: 'load' });

    await check('page shows the pushed level as a number and a bar', async () => {
      await stateIs('live');
      await levelShown('-47');
      const meter = await page.evaluate(() => ({
        now: document.getElementById('meter').getAttribute('aria-valuenow'),
        mask: document.getElementById('mask').style.width,
      }));
      assert.strictEqual(meter.now, '-47');
      // -47 dB is 43/90 of the -90..0 scale: the mask hides the rest.
      assert.strictEqual(meter.mask, `${(100 * (1 - 43 / 90)).toFixed(1)}%`);
    });

    await check('page follows audioLevel as it changes', async () => {
      for (const db of [-12, 0, -90, -63]) {
        await server.setLevel(db);
        await levelShown(String(db));
      }
    });

    await check('page is self-contained and loads its logo', async () => {
      const logo = await page.evaluate(() => document.querySelector('header img').naturalWidth);
      assert.ok(logo > 0, 'logo did not load');
      assert.deepStrictEqual(foreign, [], 'requests outside the service');
      assert.deepStrictEqual(pageErrors, [], 'script errors');
    });

    await check('page shows the connection drop', async () => {
      await server.stop();
      await stateIs('disconnected');
      await levelShown('--');
      // It stays so while the page retries in vain.
      await page.waitForTimeout(2500);
      const seen = await page.evaluate(() => ({
        state: document.body.dataset.state,
        status: document.getElementById('status').textContent,
        level: document.getElementById('level').textContent,
      }));
      assert.strictEqual(seen.state, 'disconnected');
      assert.match(seen.status, /^Disconnected/);
      assert.strictEqual(seen.level, '--');
    });

    await check('page reconnects by itself when the service is back', async () => {
      server = startServer();
      await server.ready();
      await server.setLevel(-21);
      await stateIs('live');
      await levelShown('-21');
    });
    await server.stop();
  } finally {
    if (browser) await browser.close().catch(() => {});
    server.kill();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

const watchdog = setTimeout(() => {
  console.error('browser test: overall timeout');
  process.exit(1);
}, 90000);

main()
  .then(() => {
    clearTimeout(watchdog);
    console.log(`${results.passed} passed, ${results.failed} failed`);
    process.exit(0); // do not wait for the browser driver's idle handles
  })
  .catch((e) => {
    clearTimeout(watchdog);
    console.error(e.stack || String(e));
    console.log(`${results.passed} passed, ${Math.max(1, results.failed)} failed`);
    process.exit(1);
  });
