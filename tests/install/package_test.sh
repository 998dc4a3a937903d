#!/usr/bin/env bash
# The Debian package made from the build tree: its files, its Depends, no capture rights granted. As root
# (and unless PACTERRA_NO_DPKG=1) it is installed for real with dpkg, run, and removed again; a pacterra
# package or a /usr/bin/pacterra-cli already on the machine is left alone and that part skipped.
# Usage: package_test.sh BUILD_DIR FILE... (FILE relative to /usr)
set -euo pipefail
build=$1
shift
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
installed=0
cleanup() {
  if [[ $installed == 1 ]]; then dpkg -r pacterra >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/pacterra_*.deb)
deb=${debs[0]}
[[ -f "$deb" ]] || fail "no package made"

contents=$(dpkg-deb --contents "$deb")
for f in "$@"; do
  grep -qE " \./usr/$f\$" <<<"$contents" || fail "not in the package: /usr/$f"
done
grep -qE '^-rwxr-xr-x root/root .* \./usr/bin/pacterra-cli$' <<<"$contents" ||
  fail "pacterra-cli is not root-owned 0755"
if grep -vE ' \./usr(/|$)' <<<"$contents"; then fail "files outside /usr (above)"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libpcap0.8 libqt6core6; do
  grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[[ $(dpkg-deb -f "$deb" Section) == net ]] || fail "section"
# (Into variables first: grep -q leaving early would fail the pipe under pipefail.)
description=$(dpkg-deb -f "$deb" Description)
grep -q 'setcap cap_net_raw,cap_net_admin=eip /usr/bin/pacterra' <<<"$description" ||
  fail "the description does not say how to capture without root"
# No maintainer script may grant capture rights.
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm triggers; do
  if [[ -e "$work/control/$script" ]] && grep -lE 'setcap|chmod|statoverride' "$work/control/$script"; then
    fail "a maintainer script changes rights"
  fi
done
echo "Depends: $depends"

if [[ $(id -u) != 0 || "${PACTERRA_NO_DPKG:-0}" == 1 ]]; then
  echo "not root (or PACTERRA_NO_DPKG=1): dpkg -i skipped"
  exit 0
fi
if dpkg-query -W pacterra >/dev/null 2>&1 || [[ -e /usr/bin/pacterra-cli ]]; then
  echo "Pacterra is already installed on this machine: dpkg -i skipped"
  exit 0
fi
# Another package manager run holds the lock for a while at most.
for try in $(seq 1 30); do
  if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then installed=1; break; fi
  grep -q 'lock' "$work/dpkg.log" || { cat "$work/dpkg.log"; fail "dpkg -i"; }
  sleep 2
done
[[ $installed == 1 ]] || { cat "$work/dpkg.log"; fail "dpkg -i: the lock stayed taken"; }

version=$(dpkg-deb -f "$deb" Version)
[[ $(/usr/bin/pacterra-cli --version) == "pacterra-cli $version" ]] || fail "pacterra-cli --version"
out=$(/usr/bin/pacterra-cli connections /usr/share/pacterra/sample.cap 2>&1) ||
  fail "the installed pacterra-cli failed: $out"
conns=$(grep -c $'\t' <<<"$out" || true)
[[ $conns -gt 0 ]] || fail "the installed pacterra-cli read no connections from the installed sample"
# Installed under /usr, it takes Config.cfg from the user's folder even as root (where /usr/bin is
# writable): a default policy there that drops everything leaves no connection.
mkdir -p "$work/xdg/Morvane/Pacterra"
printf '\x32\x00\x00\x00\x00\x00\x00' >"$work/xdg/Morvane/Pacterra/Config.cfg"
out=$(XDG_CONFIG_HOME=$work/xdg /usr/bin/pacterra-cli connections /usr/share/pacterra/sample.cap --rules 2>&1) ||
  fail "the installed pacterra-cli failed: $out"
[[ $(grep -c $'\t' <<<"$out" || true) == 0 ]] || fail "the installed pacterra-cli did not use ~/.config's Config.cfg"
if [[ -e /usr/bin/pacterra ]]; then
  out=$(QT_QPA_PLATFORM=offscreen /usr/bin/pacterra --version 2>&1) || fail "pacterra --version: $out"
  [[ $out == "pacterra $version" ]] || fail "pacterra --version: $out"
fi
if command -v getcap >/dev/null && [[ -n "$(getcap /usr/bin/pacterra* 2>/dev/null)" ]]; then
  fail "capabilities were granted"
fi
[[ ! -e /usr/bin/Config.cfg ]] || fail "a Config.cfg was written beside the installed programs"

dpkg -r pacterra >/dev/null
installed=0
[[ ! -e /usr/bin/pacterra-cli && ! -e /usr/share/pacterra ]] || fail "dpkg -r left files behind"
echo "installed with dpkg -i, ran, removed: $conns connections read"
