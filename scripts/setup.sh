#!/usr/bin/env bash
# Installs every Debian package the build, the tools and the tests need.
# Quick when everything is already there: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcjson-dev libwebsockets-dev
  libsndfile1-dev libsamplerate0-dev
  libssl-dev libsecp256k1-dev zlib1g-dev
  chromium nodejs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Debian's npm conflicts with a nodejs that carries its own npm (NodeSource builds).
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Browser tests drive Debian's chromium through playwright-core (never a downloaded browser).
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -f "$here/web/tests/package.json" ] && [ ! -d "$here/web/tests/node_modules/playwright-core" ]; then
  (cd "$here/web/tests" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --no-audit --no-fund --silent)
fi
