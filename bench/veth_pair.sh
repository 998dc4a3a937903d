# Sourced by the live benchmarks. veth_pair NAME DEVICE makes two network namespaces, NAME-cap and
# NAME-peer, joined by a veth pair (DEVICE0 on the capturing side at 198.51.100.1, DEVICE1 on the sending
# side at 198.51.100.2: TEST-NET-2, nothing leaves the machine), and a scratch folder $work. Sets $cap and
# $peer; everything is removed when the script exits.
veth_pair() {
    [[ $(id -u) -eq 0 ]] || { echo "run as root: the benchmark creates network namespaces" >&2; exit 2; }
    cap=$1-cap
    peer=$1-peer
    local dev=$2
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    trap veth_pair_cleanup EXIT
    veth_pair_cleanup_namespaces
    ip netns add "$cap"
    ip netns add "$peer"
    ip link add "${dev}0" netns "$cap" type veth peer name "${dev}1" netns "$peer"
    ip -n "$cap" addr add 198.51.100.1/24 dev "${dev}0"
    ip -n "$peer" addr add 198.51.100.2/24 dev "${dev}1"
    for ns in "$cap" "$peer"; do
        ip -n "$ns" link set lo up
    done
    ip -n "$cap" link set "${dev}0" up
    ip -n "$peer" link set "${dev}1" up
    # No one listens on the target port: keep the kernel from answering every datagram with an ICMP error
    # (at most one per 100 s), which would load the receiving side.
    ip netns exec "$cap" sysctl -q -w net.ipv4.icmp_ratelimit=100000
    ip -n "$peer" neigh add 198.51.100.1 lladdr "$(ip -n "$cap" -br link show "${dev}0" | awk '{print $3}')" \
        dev "${dev}1" 2>/dev/null || true
}

veth_pair_cleanup_namespaces() {
    ip netns del "$cap" 2>/dev/null || true
    ip netns del "$peer" 2>/dev/null || true
}

veth_pair_cleanup() {
    veth_pair_cleanup_namespaces
    rm -rf "$work"
}
