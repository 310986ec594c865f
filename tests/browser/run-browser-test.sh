#!/usr/bin/env bash
# The browser test of the service page: run-browser-test.sh SERVER_PROGRAM BUILD_DIR
# (run from the repository root). Exits 77, which ctest counts as skipped,
# where Chromium or Node.js is missing; installs puppeteer-core from the
# committed lock file when it is not installed yet.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
chromium="${CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ]; then
  echo "SKIP: no Chromium at $chromium (scripts/setup.sh installs it)"
  exit 77
fi
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIP: Node.js or npm is missing (scripts/setup.sh installs them)"
  exit 77
fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  (cd "$here" && npm ci --no-audit --no-fund)
fi
CHROMIUM="$chromium" exec node "$here/page.test.js" "$1" "$2"
