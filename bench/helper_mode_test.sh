#!/bin/bash
# The helper's CPU share is over the time the sending took: 0.44 s of CPU while a sender planned for 2 s
# took 20 s is 2.2% of a core, not 22%; without the sender's line, the planned time.
. "$(dirname "$0")/helper_mode.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "44 100" >"$dir/cpu"
echo "sent 200000 in 20.00 s" >"$dir/sent"
: >"$dir/none"
got="$(helper_cpu_share "$dir/cpu" "$dir/sent" 2) $(helper_cpu_share "$dir/cpu" "$dir/none" 2)"
[ "$got" = "2.2 22.0" ] || { echo "got $got, not 2.2 22.0"; exit 1; }
