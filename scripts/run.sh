#!/usr/bin/env bash
# Installs what the project needs, builds it and starts the window. Arguments go to the program, so
# `scripts/run.sh res/sample.cap` opens the bundled sample capture.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${SKIP_DEPS:-0}" == 1 ]] || scripts/install-deps.sh
# Every option given: a build folder keeps the options it was last configured with.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACTERRA_BUILD_TESTS=OFF -DPACTERRA_BUILD_BENCH=OFF \
  -DPACTERRA_BUILD_FUZZ=OFF -DPACTERRA_SANITIZE=
cmake --build build -j"${JOBS:-2}" --target pacterra pacterra-cli
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    cat >&2 <<MSG
run.sh: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be shown.
  On a virtual display:    xvfb-run -a build/bin/pacterra $*
  Without a window:        build/bin/pacterra-cli connections res/sample.cap
                           build/bin/pacterra-cli capture -i lo -t 10     (live, needs root or setcap)
MSG
    exit 1
fi
exec build/bin/pacterra "$@"
