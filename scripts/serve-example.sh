#!/usr/bin/env bash
# Installs what is missing, builds, and starts the assessment service on the
# bundled English digits example: scripts/serve-example.sh [PORT]
# (default 8080). Open the printed address in a browser; Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
port="${1:-8080}"
scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target recognize-server
echo "Open http://127.0.0.1:$port/ in a browser (say digits, e.g. \"eight zero nine five four three nine\")."
exec build-release/recognize-server --port "$port" examples/assess.prm
