#!/usr/bin/env bash
# Installs what is missing, builds, and runs the recognizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
build/recognize || true
