#!/usr/bin/env bash
# The window during a live capture: UDP at RATE datagrams per second through a veth pair between two network
# namespaces (TEST-NET-2, nothing leaves the machine), captured by the real window (offscreen) with the one
# connection shown in the packets list, then by tcpdump for comparison. Prints one line:
#   rate=... sent=... stored=... dropped=... tcpdump_got=... tcpdump_dropped=... max_stall_ms=... list_lag_ms=...
# max_stall_ms: the window's longest pause in event handling; list_lag_ms: how long after the store held every
# packet the packets list showed them all. Goals: no drops where tcpdump has none, max_stall_ms < 100, and
# the list follows within about one refresh (300 ms).
#
# With HELPER=1 the window runs as an unprivileged user (nobody) and captures through a copy of
# pacterra-capture that alone holds the rights; the line then ends with helper_cpu_pct, the helper's CPU
# time over the sending time in % of one core.
#
# With TRAFFIC=1 the window shows its Traffic bar (the graph of packets and bytes over time) throughout; with
# STREAM=1 its "Stream" tab is in front, following the connection as it grows (one line per datagram).
#
# Usage (as root): bench/gui_live.sh [BUILD_DIR] [RATE]     (default ./build, 100000; SECONDS_PER_RATE=3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rate=${2:-100000}
seconds=${SECONDS_PER_RATE:-3}
gui=$build/bin/pacterra
blast=$build/bin/pacterra-udp-blast
for tool in "$gui" "$blast"; do
    [[ -x $tool ]] || { echo "missing $tool: build the project first (cmake --build $build)" >&2; exit 2; }
done
command -v tcpdump >/dev/null || { echo "tcpdump missing: scripts/install-deps.sh --bench" >&2; exit 2; }
. bench/veth_pair.sh
veth_pair pacterra-gui-live ptg
mkdir -p "$work/runtime" "$work/config" && chmod 700 "$work/runtime"
if [[ ${TRAFFIC:-0} == 1 ]]; then
    mkdir -p "$work/config/Morvane"
    printf '[TrafficBar]\nShown=true\n' >"$work/config/Morvane/Pacterra.conf"
fi
prefix=()
if [[ ${HELPER:-0} == 1 ]]; then
    . bench/helper_mode.sh
    helper_setup "$build"
    chown 65534 "$work/runtime" "$work/config"
    prefix=("${as_user[@]}")
fi

total=$(awk -v r="$rate" -v s="$seconds" 'BEGIN { printf "%d", r * s }')
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
ip netns exec "$cap" "${prefix[@]}" env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    PACTERRA_BENCH_STREAM="${STREAM:-0}" \
    XDG_RUNTIME_DIR="$work/runtime" "$gui" --bench-capture ptg0 --bench-count "$total" >"$work/gui.out" \
    2>"$work/gui.err" &
pid=$!
[[ ${HELPER:-0} == 1 ]] && helper_cpu_watch "$pid" "$work/cpu" &
sleep 1.5
ip netns exec "$peer" "$blast" 198.51.100.1 9999 "$rate" "$seconds" >"$work/sent"
wait "$pid" || true
sent=$(awk '{ print $2 }' "$work/sent")
line=$(grep -E '^stored=' "$work/gui.out") || { cat "$work/gui.err" >&2; echo "the window printed no result" >&2; exit 2; }

ip netns exec "$cap" timeout -s INT "$((seconds + 21))" tcpdump -i ptg0 -n -c "$sent" -w /dev/null udp \
    2>"$work/t.err" &
tpid=$!
sleep 1
ip netns exec "$peer" "$blast" 198.51.100.1 9999 "$rate" "$seconds" >"$work/sent2"
wait "$tpid" || true
t_got=$(awk '/packets captured/ { print $1 }' "$work/t.err")
t_drop=$(awk '/dropped by kernel/ { print $1 }' "$work/t.err")

get() { sed -E "s/.*$1=([-0-9.]+).*/\\1/" <<<"$line"; }
cpu=""
if [[ ${HELPER:-0} == 1 ]]; then
    wait
    cpu=" helper_cpu_pct=$(helper_cpu_share "$work/cpu" "$work/sent" "$seconds")"
fi
echo "rate=$rate sent=$sent stored=$(get stored) dropped=$(get dropped) tcpdump_got=${t_got:-?}" \
    "tcpdump_dropped=${t_drop:-?} max_stall_ms=$(get max_stall_ms) list_lag_ms=$(get list_lag_ms)$cpu"
