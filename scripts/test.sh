#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

for preset in default sanitize fuzz; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "all tests passed"
