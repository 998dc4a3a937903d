#!/usr/bin/env bash
# Opens FILE in the real window (offscreen, without the rules) and prints one line:
#   load_s=<seconds of the load> cli_s=<seconds of pacterra-cli connections on FILE>
#   max_stall_ms=<longest pause of the window's event handling during the load> rss_kb=<peak RSS of the window>
# then, on standard error, the goals: load_s <= 1.3 x cli_s, max_stall_ms < 100, rss within 10% of the CLI's.
#
# Usage: bench/gui.sh FILE [BUILD_DIR]     (default ./build; build pacterra and pacterra-cli there first)
# Environment: RUNS  runs of each (default 3; the median time counts, the largest pause and memory)
# Exit status: 0 goals met, 1 a goal missed, 2 setup or tool failure.
set -euo pipefail

FILE=${1:?usage: bench/gui.sh FILE [BUILD_DIR]}
BUILD_DIR=${2:-./build}
die() {
    echo "gui.sh: $*" >&2
    exit 2
}
[[ -r $FILE ]] || die "cannot read $FILE"
GUI=$BUILD_DIR/bin/pacterra
CLI=$BUILD_DIR/bin/pacterra-cli
[[ -x $GUI && -x $CLI ]] || die "build pacterra and pacterra-cli in $BUILD_DIR first"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (apt-get install time)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$work/runtime"
cat "$FILE" >/dev/null  # the page cache, so that neither run pays for the disk

RUNS=${RUNS:-3}
for ((i = 1; i <= RUNS; i++)); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$CLI" connections "$FILE" >/dev/null 2>"$work/cli.err" ||
        { cat "$work/cli.err" >&2; die "pacterra-cli failed"; }
    tail -n 1 "$work/time" >>"$work/cli.runs"
    /usr/bin/time -f '%e %M' -o "$work/time" "$GUI" --bench-load "$FILE" >"$work/gui.out" 2>"$work/gui.err" ||
        { cat "$work/gui.err" >&2; die "pacterra failed to load $FILE"; }
    read -r _ kb < <(tail -n 1 "$work/time")
    line=$(grep -E '^load_s=' "$work/gui.out") || die "pacterra printed no load_s line"
    echo "$(sed -E 's/.*load_s=([0-9.]+).*/\1/' <<<"$line") $(sed -E 's/.*max_stall_ms=([0-9]+).*/\1/' <<<"$line") $kb" \
        >>"$work/gui.runs"
done
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cli_s=$(cut -d' ' -f1 "$work/cli.runs" | median)
cli_kb=$(cut -d' ' -f2 "$work/cli.runs" | sort -n | tail -n 1)
load_s=$(cut -d' ' -f1 "$work/gui.runs" | median)
stall=$(cut -d' ' -f2 "$work/gui.runs" | sort -n | tail -n 1)
gui_kb=$(cut -d' ' -f3 "$work/gui.runs" | sort -n | tail -n 1)
echo "load_s=$load_s cli_s=$cli_s max_stall_ms=$stall rss_kb=$gui_kb"

awk -v l="$load_s" -v c="$cli_s" -v s="$stall" -v g="$gui_kb" -v k="$cli_kb" 'BEGIN {
    miss = 0
    r = (c > 0 ? l / c : 0); ok = r <= 1.3; miss += !ok
    printf "load_s / cli_s       %6.2f  (goal <= 1.3)   %s\n", r, ok ? "PASS" : "MISS"
    ok = s < 100; miss += !ok
    printf "max_stall_ms         %6d  (goal < 100)    %s\n", s, ok ? "PASS" : "MISS"
    m = (k > 0 ? g / k : 0); ok = m <= 1.1; miss += !ok
    printf "rss / cli rss        %6.2f  (goal <= 1.10)  %s   (cli %d kB)\n", m, ok ? "PASS" : "MISS", k
    exit miss ? 1 : 0
}' >&2
