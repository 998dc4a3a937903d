#!/usr/bin/env bash
# Installs what the project needs, builds it three ways and runs every test:
#   build/       the normal build: unit, command-line and sample tests
#   build-asan/  clang with AddressSanitizer and UndefinedBehaviorSanitizer: every test, plus short
#                libFuzzer runs of the fuzz targets
#   build-tsan/  ThreadSanitizer: the tests of the store and the capture thread (label tsan)
# Set SKIP_DEPS=1 to skip the package check, JOBS to change the parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

[[ "${SKIP_DEPS:-0}" == 1 ]] || scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/pacterra-runtime.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"

step() { printf '\n=== %s ===\n' "$*"; }

# Every option is given for each build: a build folder keeps the options it was last configured with (by
# scripts/run.sh, say), and a folder without tests would pass with nothing run.
step "normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACTERRA_BUILD_TESTS=ON -DPACTERRA_BUILD_BENCH=ON \
  -DPACTERRA_BUILD_FUZZ=OFF -DPACTERRA_SANITIZE=
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure --no-tests=error --timeout 600

step "AddressSanitizer + UndefinedBehaviorSanitizer build, with fuzz smoke runs"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPACTERRA_SANITIZE="address;undefined" -DPACTERRA_BUILD_TESTS=ON -DPACTERRA_BUILD_FUZZ=ON \
  -DPACTERRA_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure --no-tests=error --timeout 900

step "ThreadSanitizer build"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPACTERRA_SANITIZE=thread -DPACTERRA_BUILD_TESTS=ON -DPACTERRA_BUILD_FUZZ=OFF -DPACTERRA_BUILD_BENCH=OFF
# Only what the tests labelled tsan run (tests/CMakeLists.txt): the rest is built and run above.
cmake --build build-tsan -j"$jobs" --target tests_tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan -L tsan -j"$jobs" --output-on-failure --no-tests=error --timeout 900

step "all tests passed"
