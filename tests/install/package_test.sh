#!/usr/bin/env bash
# The Debian package made from the build tree: its files, its Depends, capture rights for the capture helper
# alone. As root (and unless PACTERRA_NO_DPKG=1) it is installed for real with dpkg, run (a user of the
# group pacterra captures through the helper in a network namespace), and removed again with its group; a
# pacterra package or a /usr/bin/pacterra-cli already on the machine is left alone and that part skipped.
# Usage: package_test.sh BUILD_DIR FILE... (FILE relative to /usr)
set -euo pipefail
build=$1
shift
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
installed=0
user=pctest$$
cleanup() {
  if getent passwd "$user" >/dev/null; then userdel "$user" >/dev/null 2>&1 || true; fi
  if [[ $installed == 1 ]]; then dpkg --purge pacterra >/dev/null 2>&1 || true; fi
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
grep -qE '^-rwxr-x--- root/root .* \./usr/bin/pacterra-capture$' <<<"$contents" ||
  fail "pacterra-capture is not root-owned 0750"
if grep -vE ' \./usr(/|$)' <<<"$contents"; then fail "files outside /usr (above)"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libpcap0.8 libqt6core6 libcap2 libcap2-bin passwd; do
  grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[[ $(dpkg-deb -f "$deb" Section) == net ]] || fail "section"
# (Into variables first: grep -q leaving early would fail the pipe under pipefail.)
description=$(dpkg-deb -f "$deb" Description)
grep -q 'setcap cap_net_raw,cap_net_admin=eip /usr/bin/pacterra' <<<"$description" ||
  fail "the description does not say how to capture without root"
grep -q 'setcap cap_net_raw,cap_net_admin=eip /usr/bin/pacterra-capture$' <<<"$description" ||
  fail "the description does not name the helper's rights"
grep -q 'sudo usermod -aG pacterra \$USER' <<<"$description" ||
  fail "the description does not say how to join the group"
# The maintainer scripts change the rights of the helper alone.
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm triggers; do
  [[ -e "$work/control/$script" ]] || continue
  if grep -vE '^\s*(#|echo )' "$work/control/$script" | grep -E 'setcap|chmod|chown|chgrp|statoverride' |
    grep -vE '"\$helper"'; then
    fail "$script changes the rights of something else than the helper (above)"
  fi
  if grep -q '"\$helper"' "$work/control/$script" &&
    ! grep -qx 'helper=/usr/bin/pacterra-capture' "$work/control/$script"; then
    fail "$script names another helper"
  fi
done
[[ -e "$work/control/postinst" && -e "$work/control/postrm" ]] || fail "no postinst or postrm"
echo "Depends: $depends"

if [[ $(id -u) != 0 || "${PACTERRA_NO_DPKG:-0}" == 1 ]]; then
  echo "not root (or PACTERRA_NO_DPKG=1): dpkg -i skipped"
  exit 0
fi
# (A package removed but not purged, with only its maintainer scripts left, is no installed package.)
if dpkg-query -W -f='${Status}' pacterra 2>/dev/null | grep -q 'ok installed' || [[ -e /usr/bin/pacterra-cli ]]; then
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
if command -v getcap >/dev/null && [[ -n "$(getcap /usr/bin/pacterra /usr/bin/pacterra-cli 2>/dev/null)" ]]; then
  fail "capabilities were granted to the window or the CLI"
fi
getent group pacterra >/dev/null || fail "no group pacterra"
[[ $(stat -c '%U:%G %a' /usr/bin/pacterra-capture) == "root:pacterra 750" ]] ||
  fail "the helper is $(stat -c '%U:%G %a' /usr/bin/pacterra-capture)"
[[ $(getcap /usr/bin/pacterra-capture) == *"cap_net_admin,cap_net_raw=eip"* ]] ||
  fail "the helper's capabilities: $(getcap /usr/bin/pacterra-capture)"

# A user of the group captures as itself, through the helper, in a network namespace of its own.
useradd --no-create-home --shell /usr/sbin/nologin --user-group --groups pacterra "$user"
home=$work/home
mkdir -p "$home" && chown "$user" "$home"
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" PATH=/usr/bin:/bin TZ=UTC)
out=$(unshare -n bash -c '
  ip link set lo up
  (for i in $(seq 1 60); do echo tick >/dev/udp/127.0.0.1/9999; sleep 0.05; done) &
  "$@"' capture "${as_user[@]}" /usr/bin/pacterra-cli capture -i lo -t 2 2>&1) ||
  fail "a member of the group could not capture: $out"
grep -q $'127.0.0.1:[0-9]*\t127.0.0.1:9999\tUDP' <<<"$out" || fail "nothing captured through the helper: $out"
# Someone outside the group is told to join it.
out=$(unshare -n setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME=/ PATH=/usr/bin:/bin \
  /usr/bin/pacterra-cli capture -i lo -t 1 2>&1) && fail "a user outside the group captured: $out"
grep -q 'sudo usermod -aG pacterra \$USER' <<<"$out" || fail "the hint does not name the group: $out"
userdel "$user"
[[ ! -e /usr/bin/Config.cfg ]] || fail "a Config.cfg was written beside the installed programs"

dpkg -r pacterra >/dev/null
[[ ! -e /usr/bin/pacterra-cli && ! -e /usr/share/pacterra ]] || fail "dpkg -r left files behind"
! getent group pacterra >/dev/null || fail "dpkg -r left the empty group pacterra behind"
dpkg --purge pacterra >/dev/null
installed=0
echo "installed with dpkg -i, ran, removed: $conns connections read"
