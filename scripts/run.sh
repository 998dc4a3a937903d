#!/usr/bin/env bash
# Installs what the project needs, builds it and starts it on the bundled sample capture.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${SKIP_DEPS:-0}" == 1 ]] || scripts/install-deps.sh
# Every option given: a build folder keeps the options it was last configured with.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACTERRA_BUILD_TESTS=OFF -DPACTERRA_BUILD_BENCH=OFF \
  -DPACTERRA_BUILD_FUZZ=OFF -DPACTERRA_SANITIZE=
cmake --build build -j"${JOBS:-2}"
# Until the main window lands, the command-line front end shows the sample's connections.
exec build/bin/pacterra-cli connections res/sample.cap "$@"
