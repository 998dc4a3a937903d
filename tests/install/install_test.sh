#!/usr/bin/env bash
# The desktop entry and the metainfo pass their validators without an error or a warning, the manual pages
# format without a warning, and a staged install (DESTDIR) holds every file a system install gets, the
# programs among them able to run from there.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR METAINFO_ID FILE... (FILE relative to the prefix)
set -euo pipefail
src=$1 build=$2 id=$3
shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$(desktop-file-validate "$src/res/pacterra.desktop" 2>&1) || fail "desktop-file-validate: $out"
[[ -z "$out" ]] || fail "desktop-file-validate: $out"

# Infos (the reserved example domain of the id) are fine; warnings and errors are not.
out=$(appstreamcli validate --no-net "$src/res/$id.metainfo.xml" 2>&1) || fail "appstreamcli: $out"
if grep -E '^(E|W):' <<<"$out"; then fail "appstreamcli reports the lines above"; fi

for page in "$build"/man/*.1; do
  out=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
  [[ -z "$out" ]] || fail "groff on $page: $out"
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
for f in "$@"; do
  [[ -f "$stage/usr/$f" && -s "$stage/usr/$f" ]] || fail "not installed: /usr/$f"
done
for f in "$stage"/usr/bin/*; do
  [[ -x "$f" ]] || fail "not executable: $f"
done
# Each size is what its folder says.
for png in "$stage"/usr/share/icons/hicolor/*x*/apps/pacterra.png; do
  [[ -e "$png" ]] || continue
  size=$(basename "$(dirname "$(dirname "$png")")")
  hex=$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')  # the IHDR width and height
  dims="$((16#${hex:0:8}))x$((16#${hex:8:8}))"
  [[ "$dims" == "$size" ]] || fail "$png is $dims"
done
# The metainfo's launchable and icon are found in the tree as installed.
if [[ -e "$stage/usr/share/metainfo/$id.metainfo.xml" ]]; then
  out=$(appstreamcli validate-tree --no-net "$stage" 2>&1) || fail "appstreamcli validate-tree: $out"
  if grep -E '^ *(E|W):' <<<"$out"; then fail "appstreamcli validate-tree reports the lines above"; fi
fi
# Nothing outside the prefix.
extra=$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)
[[ -z "$extra" ]] || fail "installed outside /usr: $extra"

out=$("$stage/usr/bin/pacterra-cli" connections "$stage/usr/share/pacterra/sample.cap" 2>&1) ||
  fail "the installed pacterra-cli failed: $out"
[[ $(grep -c $'\t' <<<"$out") -gt 0 ]] || fail "the installed pacterra-cli read no connections from the installed sample"
echo "validators clean; $# files installed"
