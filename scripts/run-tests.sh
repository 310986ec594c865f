#!/usr/bin/env bash
# Installs what is missing, then builds and runs all tests twice: a normal build
# and a build with AddressSanitizer and UndefinedBehaviorSanitizer; then the
# concurrency tests (names containing "Concurrency") in a ThreadSanitizer build
# (tests/tsan.supp: the compiled cpp-httplib library is not instrumented).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
(cd build && ctest --output-on-failure -j"$(nproc)")
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DRECOG_SANITIZE=ON -DBUILD_TESTING=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$(nproc)")
# Races inside the uninstrumented cpp-httplib library are not ours to check.
suppressions="$PWD/tests/tsan.supp"
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRECOG_TSAN=ON -DBUILD_TESTING=ON
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$suppressions" ctest --output-on-failure -R Concurrency -j"$(nproc)")
