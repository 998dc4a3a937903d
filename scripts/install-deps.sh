#!/usr/bin/env bash
# Installs the Debian 12 packages that Pacterra needs to build, test and (with --bench) benchmark.
# Run as root, or with sudo available.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev            # libFuzzer and the sanitizer runtimes
  qt6-base-dev                        # Qt 6 Core, Widgets, Test and the offscreen platform
  libpcap-dev libcap-dev                # libcap: the capture helper drops its rights
  libssl-dev openssl                   # libcrypto: the keys of QUIC Initial packets; openssl: a TLS test peer
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 libcap2-bin                 # network namespaces for the capture tests; setcap
  xvfb xauth libxcb1-dev               # screenshots of the real windows; reading their titles back
  desktop-file-utils appstream groff-base  # validators of the desktop entry, metainfo and manual pages
  dpkg-dev file                        # the Debian package's Depends (dpkg-shlibdeps)
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(tcpdump tshark time)
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo --preserve-env=DEBIAN_FRONTEND)
fi
# Skip the package manager when everything is already there (a developer machine, a second run).
missing=()
for p in "${packages[@]}"; do
  [[ "$p" == \#* ]] && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -o DPkg::Lock::Timeout=600
  "${sudo[@]}" apt-get install -y -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi
