#!/usr/bin/env bash
# Live capture under load: pacterra-cli capture against tcpdump -w /dev/null, side by side.
#
# Makes two network namespaces joined by a veth pair (TEST-NET-2 addresses, nothing leaves the machine),
# sends UDP from one to the other at rising rates for a few seconds each, and captures on the receiving
# end with each tool in turn. Prints, per rate, the datagrams sent and, per tool, the packets it captured,
# the drops the kernel reported and how long it took to have them all. Goal: pacterra loses nothing at any
# rate where tcpdump loses nothing.
#
# With HELPER=1 a third column captures as an unprivileged user through the capture helper (a copy of
# pacterra-capture that alone holds the rights), with the helper's own CPU time as a share of one core while
# the sender runs. Goal there: no more drops than pacterra's own capture, the helper under 15% at 100000/s.
#
# Usage (as root): bench/live.sh [BUILD_DIR] [RATES...]     default rates: 10000 50000 100000 200000 400000
# SECONDS_PER_RATE (default 3) sets the length of each run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
rates=("$@")
[[ ${#rates[@]} -gt 0 ]] || rates=(10000 50000 100000 200000 400000)
seconds=${SECONDS_PER_RATE:-3}

cli=$build/bin/pacterra-cli
blast=$build/bin/pacterra-udp-blast
for tool in "$cli" "$blast"; do
    [[ -x $tool ]] || { echo "missing $tool: build the project first (cmake --build $build)" >&2; exit 2; }
done
command -v tcpdump >/dev/null || { echo "tcpdump missing: scripts/install-deps.sh --bench" >&2; exit 2; }
. bench/veth_pair.sh
veth_pair pacterra-live ptl
helper=${HELPER:-0}
if [[ $helper == 1 ]]; then
    . bench/helper_mode.sh
    helper_setup "$build"
fi

# A buffer of 200 MB, accept everything, no rules: the capture must not end because the buffer fills.
printf '\xc8\x00\x00\x00\x01\x00\x00' > "$work/Config.cfg"

# Each tool captures until it has every datagram the sender sends (or a generous time has passed), so a tool
# that falls behind during the burst but catches up from its kernel buffer loses nothing, and one that
# cannot shows the shortfall.
# Seconds of sending at a rate: at most 3 million datagrams, so the 200 MB buffer never fills.
duration() { awk -v r="$1" -v s="$seconds" 'BEGIN { d = 3000000 / r; printf "%.2f", (d < s ? d : s) }'; }

run_pacterra() {  # rate [through-helper] -> "captured dropped seconds [helper-cpu-%]"
    local d; d=$(duration "$1")
    local total; total=$(awk -v r="$1" -v d="$d" 'BEGIN { printf "%d", r * d }')
    local prefix=()
    [[ ${2:-0} == 1 ]] && prefix=("${as_user[@]}")
    local start=$(date +%s.%N)
    ip netns exec "$cap" "${prefix[@]}" "$cli" capture -i ptl0 -c "$total" -t "$((seconds + 20))" \
        --config "$work/Config.cfg" > /dev/null 2> "$work/p.err" &
    local pid=$!
    [[ ${2:-0} == 1 ]] && helper_cpu_watch "$pid" "$work/cpu" &
    sleep 1
    ip netns exec "$peer" "$blast" 198.51.100.1 9999 "$1" "$d" > "$work/sent"
    wait "$pid" || true
    local took stored dropped cpu=""
    took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a - 1 }')
    stored=$(awk '/packets, .* connections/ { print $1 }' "$work/p.err")
    dropped=$(sed -n 's/.*received by the kernel, \([0-9]*\) dropped.*/\1/p' "$work/p.err")
    if [[ ${2:-0} == 1 ]]; then
        wait
        cpu=$(helper_cpu_share "$work/cpu" "$work/sent" "$d")
    fi
    echo "${stored:-?} ${dropped:-?} $took $cpu"
}

run_tcpdump() {  # rate -> "captured dropped seconds"
    local d; d=$(duration "$1")
    local total; total=$(awk -v r="$1" -v d="$d" 'BEGIN { printf "%d", r * d }')
    local start=$(date +%s.%N)
    ip netns exec "$cap" timeout -s INT "$((seconds + 21))" tcpdump -i ptl0 -n -c "$total" -w /dev/null udp \
        2> "$work/t.err" &
    local pid=$!
    sleep 1
    ip netns exec "$peer" "$blast" 198.51.100.1 9999 "$1" "$d" > "$work/sent"
    wait "$pid" || true
    local took got dropped
    took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a - 1 }')
    got=$(awk '/packets captured/ { print $1 }' "$work/t.err")
    dropped=$(awk '/dropped by kernel/ { print $1 }' "$work/t.err")
    echo "${got:-?} ${dropped:-?} $took"
}

header=(rate/s achieved sent pacterra drops secs tcpdump drops secs)
[[ $helper == 1 ]] && header+=(helper drops secs cpu%)
printf '%9s %9s %9s | %9s %7s %6s | %9s %7s %6s' "${header[@]:0:9}"
[[ $helper == 1 ]] && printf ' | %9s %7s %6s %5s' "${header[@]:9}"
printf ' | %s\n' verdict
status=0
for rate in "${rates[@]}"; do
    read -r p_got p_drop p_secs < <(run_pacterra "$rate")
    p_sent=$(awk '{ print $2 }' "$work/sent")
    achieved=$(awk '{ printf "%d", $2 / $4 }' "$work/sent")
    if [[ $helper == 1 ]]; then
        read -r h_got h_drop h_secs h_cpu < <(run_pacterra "$rate" 1)
        h_sent=$(awk '{ print $2 }' "$work/sent")
    fi
    read -r t_got t_drop t_secs < <(run_tcpdump "$rate")
    t_sent=$(awk '{ print $2 }' "$work/sent")
    verdict=ok
    if [[ "$t_got" == "$t_sent" && "$t_drop" == 0 && ("$p_got" != "$p_sent" || "$p_drop" != 0) ]]; then
        verdict="MISS (pacterra loses packets where tcpdump does not)"
        status=1
    fi
    if [[ $helper == 1 && "$p_got" == "$p_sent" && "$p_drop" == 0 && ("$h_got" != "$h_sent" || "$h_drop" != 0) ]]; then
        verdict="MISS (the helper loses packets where pacterra's own capture does not)"
        status=1
    fi
    printf '%9s %9s %9s | %9s %7s %6s | %9s %7s %6s' "$rate" "$achieved" "$p_sent" "$p_got" "$p_drop" "$p_secs" \
        "$t_got" "$t_drop" "$t_secs"
    [[ $helper == 1 ]] && printf ' | %9s %7s %6s %5s' "$h_got" "$h_drop" "$h_secs" "$h_cpu"
    printf ' | %s\n' "$verdict"
done
echo "(secs: from the start of sending until the tool had every datagram or gave up; cpu%: the helper's"\
    "CPU time over the sending time, in % of one core)"
exit "$status"
