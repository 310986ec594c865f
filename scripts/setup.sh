#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing.
set -euo pipefail
# espeak-ng and sox regenerate the bundled example (scripts/make-example.sh);
# clang and its runtime build the fuzz targets (scripts/fuzz-smoke.sh).
# libcpp-httplib-dev and nlohmann-json3-dev build recognize-server; chromium and
# nodejs run its browser test (tests/browser).
packages=(g++ cmake make pkg-config libgtest-dev libfftw3-dev libavcodec-dev espeak-ng sox clang libclang-rt-14-dev nlohmann-json3-dev libcpp-httplib-dev chromium nodejs parallel libeigen3-dev)
# npm for the browser test's puppeteer-core; Node.js packages that bundle it conflict with Debian's npm.
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
