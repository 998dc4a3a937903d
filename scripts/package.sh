#!/usr/bin/env bash
# Builds the Debian package: a release build in build-package/ without tests or benchmarks, then CPack.
# Prints the path of the .deb. Needs dpkg-dev and file (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPACTERRA_BUILD_TESTS=OFF -DPACTERRA_BUILD_BENCH=OFF -DPACTERRA_BUILD_FUZZ=OFF -DPACTERRA_SANITIZE=
cmake --build build-package -j"$jobs"
(cd build-package && cpack -G DEB)
ls "$PWD"/build-package/pacterra_*.deb
