# Sourced by the live benchmarks for HELPER=1: the capture then runs as an unprivileged user (nobody)
# through a copy of pacterra-capture in $work that alone holds the capture rights, as an installed package
# sets it up. helper_setup BUILD_DIR sets $as_user (the command prefix that runs a program as that user with
# the copy as its helper) and makes $work usable by that user. helper_cpu_watch PID FILE samples, until PID
# ends, the CPU ticks of its pacterra-capture child into FILE ("ticks clock_ticks_per_second").
# helper_cpu_share CPU_FILE SENT_FILE PLANNED_SECONDS prints that CPU time as a % of one core.
helper_setup() {
    local build=$1
    command -v setcap >/dev/null || { echo "setcap missing (libcap2-bin)" >&2; exit 2; }
    [[ -x $build/bin/pacterra-capture ]] || { echo "missing $build/bin/pacterra-capture" >&2; exit 2; }
    cp "$build/bin/pacterra-capture" "$work/pacterra-capture"
    chmod 0755 "$work/pacterra-capture"
    setcap cap_net_raw,cap_net_admin=eip "$work/pacterra-capture"
    chmod 0755 "$work"
    mkdir -p "$work/home"
    chown 65534 "$work/home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups
             env PACTERRA_CAPTURE_HELPER="$work/pacterra-capture" HOME="$work/home")
}

helper_cpu_watch() {
    local pid=$1 out=$2 ticks=0 child stat
    while kill -0 "$pid" 2>/dev/null; do
        child=$(pgrep -P "$pid" -x pacterra-captur || true)
        if [[ -n $child ]] && stat=$(cat "/proc/$child/stat" 2>/dev/null); then
            ticks=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' <<<"$stat")
        fi
        sleep 0.2
    done
    echo "$ticks $(getconf CLK_TCK)" >"$out"
}

# Over the time the sending took (the sender's "sent N in S s"), not the planned time: a sender that cannot
# keep its rate stretches the run, and the helper's CPU time with it.
helper_cpu_share() {
    local took; took=$(awk '/^sent / { print $4 }' "$2")
    awk -v d="${took:-$3}" '{ printf "%.1f", 100 * $1 / $2 / d }' "$1"
}
