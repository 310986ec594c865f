#!/usr/bin/env bash
# Installs what is missing, builds, and runs the recognizer on the bundled
# English digits example: recognition of one wave against ten candidate digit
# strings, then an assessment of the same wave against its own text.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
wave=examples/waves/digits-8095439.wav

echo "=== Recognition: which of examples/candidates.txt was said in $wave"
build-release/recognize examples/recog.prm "$wave" examples/candidates.txt

out=examples/generated/assess
mkdir -p "$out"
echo
echo "=== Assessment of the same wave against its own text"
build-release/recognize examples/assess.prm "$wave" "eight zero nine five four three nine" 0 "$out"
echo
echo "The assessment XML is in $out/output.xml (score in $out/score.txt, summary in $out/recogResult.txt)."
