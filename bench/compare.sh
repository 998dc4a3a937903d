#!/usr/bin/env bash
# Times pacterra-cli against tcpdump and tshark on one large capture and checks the speed goals:
#   pacterra / tcpdump  <= 1.1    (indexing the file in place and grouping it into connections, against a
#                                  plain read and write to /dev/null)
#   tshark / pacterra   >= 10     (against tshark's own conversation tables)
#   pacterra / floor    <= 1.3    (against the floor: reading the whole file into one buffer of its size)
# and the memory each stored packet costs: the frames stay in the file, so the peak resident memory less the
# connections' records (CONN_BYTES each) over the packets, <= 80 bytes.
#
# Usage: bench/compare.sh [BUILD_DIR]          (default ./build; build pacterra-cli,
#                                               pacterra-gen-bench-capture and pacterra-read-floor there
#                                               first)
# Environment: SHAPE               "short" (default): 1 000 000 frames over 200 000 connections;
#                                  "long": 2 000 000 frames over 4 long connections with large frames
#              PACTERRA_BENCH_CAP  capture to use (default /tmp/pacterra-bench.cap, or
#                                  /tmp/pacterra-bench-long.cap for the long shape; made if missing or
#                                  older than the generator)
#              RUNS                runs of pacterra-cli, tcpdump and the floor (default 3; the median time
#                                  counts)
#              TSHARK_RUNS         runs of tshark (default 1: it is slow)
# Needs tcpdump, tshark and GNU time (/usr/bin/time, Debian package "time").
# Exit status: 0 all goals met, 1 a goal missed, 2 setup or tool failure.
set -euo pipefail

BUILD_DIR=${1:-./build}
case ${SHAPE:-short} in
short)
    CAP=${PACTERRA_BENCH_CAP:-/tmp/pacterra-bench.cap}
    FRAMES=1000000
    CONNECTIONS=200000
    ;;
long)
    CAP=${PACTERRA_BENCH_CAP:-/tmp/pacterra-bench-long.cap}
    FRAMES=2000000
    CONNECTIONS=4
    ;;
*)
    echo "compare.sh: SHAPE must be short or long" >&2
    exit 2
    ;;
esac
RUNS=${RUNS:-3}
# A connection's record, its slots in the lookup and its list's first block.
CONN_BYTES=${CONN_BYTES:-96}
TSHARK_RUNS=${TSHARK_RUNS:-1}

die() {
    echo "compare.sh: $*" >&2
    exit 2
}

# The executables live in bin/ of the build tree, or beside their sources' build directory.
find_exe() {
    local name=$1 sub=$2
    for p in "$BUILD_DIR/bin/$name" "$BUILD_DIR/$sub/$name"; do
        if [[ -x $p ]]; then
            echo "$p"
            return 0
        fi
    done
    return 1
}

GEN=$(find_exe pacterra-gen-bench-capture bench) ||
    die "no pacterra-gen-bench-capture in $BUILD_DIR (cmake --build $BUILD_DIR --target pacterra-gen-bench-capture)"
CLI=$(find_exe pacterra-cli cli) || die "no pacterra-cli in $BUILD_DIR (cmake --build $BUILD_DIR --target pacterra-cli)"
FLOOR=$(find_exe pacterra-read-floor bench) ||
    die "no pacterra-read-floor in $BUILD_DIR (cmake --build $BUILD_DIR --target pacterra-read-floor)"
for tool in tcpdump tshark; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (apt-get install time)"

if [[ ! -f $CAP || $GEN -nt $CAP ]]; then
    echo "Generating $CAP ($FRAMES frames, $CONNECTIONS connections)..."
    "$GEN" "$CAP" "$FRAMES" "$CONNECTIONS" >/dev/null || die "generator failed"
fi
read -r _ file_frames _ file_bytes < <("$GEN" --stats "$CAP") || die "cannot read $CAP"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_timed NAME COMMAND...: runs the command with its output thrown away and its standard error kept in
# $work/NAME.err; appends "seconds peak-RSS-KiB" to $work/NAME.runs.
run_timed() {
    local name=$1
    shift
    if ! /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/$name.err"; then
        cat "$work/$name.err" >&2
        die "$name failed: $*"
    fi
    tail -n 1 "$work/time" >>"$work/$name.runs"
}

# median_time NAME / peak_kib NAME: over the runs recorded for NAME.
median_time() { cut -d' ' -f1 "$work/$1.runs" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib() { cut -d' ' -f2 "$work/$1.runs" | sort -n | tail -n 1; }

# Warm the page cache so that the first tool timed does not pay for the disk.
cat "$CAP" >/dev/null

echo "Capture: $CAP, $file_frames frames, $file_bytes bytes"
for ((i = 1; i <= RUNS; i++)); do
    echo "  run $i/$RUNS: pacterra-cli, tcpdump, floor"
    run_timed pacterra "$CLI" connections "$CAP"
    run_timed tcpdump tcpdump -r "$CAP" -w /dev/null
    run_timed floor "$FLOOR" "$CAP"
done
for ((i = 1; i <= TSHARK_RUNS; i++)); do
    echo "  run $i/$TSHARK_RUNS: tshark"
    run_timed tshark tshark -r "$CAP" -q -z conv,tcp -z conv,udp
done

# pacterra-cli's last line on standard error: "N packets, M connections, S short".
summary=$(grep -E '^[0-9]+ packets, [0-9]+ connections, [0-9]+ short' "$work/pacterra.err" | tail -n 1) ||
    die "pacterra-cli printed no \"N packets, M connections, S short\" line"
stored=${summary%% *}
((stored > 0)) || die "pacterra-cli stored no packets"
connections=$(echo "$summary" | awk '{ print $3 }')

p_time=$(median_time pacterra)
f_time=$(median_time floor)
d_time=$(median_time tcpdump)
s_time=$(median_time tshark)
p_kib=$(peak_kib pacterra)

echo
printf '%-14s %10s %14s %6s\n' tool 'median s' 'peak RSS MiB' runs
printf '%-14s %10.2f %14.1f %6d\n' pacterra-cli "$p_time" "$(awk -v k="$p_kib" 'BEGIN { print k / 1024 }')" "$RUNS"
printf '%-14s %10.2f %14.1f %6d\n' tcpdump "$d_time" "$(awk -v k="$(peak_kib tcpdump)" 'BEGIN { print k / 1024 }')" "$RUNS"
printf '%-14s %10.2f %14.1f %6d\n' tshark "$s_time" "$(awk -v k="$(peak_kib tshark)" 'BEGIN { print k / 1024 }')" \
    "$TSHARK_RUNS"
printf '%-14s %10.2f %14.1f %6d\n' floor "$f_time" "$(awk -v k="$(peak_kib floor)" 'BEGIN { print k / 1024 }')" "$RUNS"
echo
echo "load_s $p_time floor_s $f_time"
echo "pacterra-cli: $summary"

missed=0
# verdict LABEL VALUE OP GOAL: prints the comparison and PASS or MISS.
verdict() {
    local label=$1 value=$2 op=$3 goal=$4 ok
    ok=$(awk -v v="$value" -v g="$goal" -v op="$op" 'BEGIN { print (op == "<=" ? v <= g : v >= g) ? 1 : 0 }')
    if ((ok)); then
        printf '%-38s %8.2f  (goal %s %s)  PASS\n' "$label" "$value" "$op" "$goal"
    else
        printf '%-38s %8.2f  (goal %s %s)  MISS\n' "$label" "$value" "$op" "$goal"
        missed=1
    fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 1e9) }'; }
verdict "time pacterra / tcpdump" "$(ratio "$p_time" "$d_time")" "<=" 1.1
verdict "time tshark / pacterra" "$(ratio "$s_time" "$p_time")" ">=" 10
verdict "time pacterra / floor" "$(ratio "$p_time" "$f_time")" "<=" 1.3
per_packet=$(awk -v rss="$p_kib" -v c="$connections" -v cb="$CONN_BYTES" -v n="$stored" \
    'BEGIN { printf "%.2f", (rss * 1024 - c * cb) / n }')
verdict "memory bytes per stored packet" "$per_packet" "<=" 80
awk -v rss="$p_kib" -v c="$connections" -v cb="$CONN_BYTES" -v n="$stored" -v fb="$file_bytes" 'BEGIN {
    printf "  (peak RSS %.0f MiB - %d connections x %d bytes, over %d stored packets; file %.0f MiB)\n",
        rss / 1024, c, cb, n, fb / 1048576
}'
exit "$missed"
