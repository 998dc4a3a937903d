#!/usr/bin/env python3
"""pacterra-cli --wide connections against tshark's conversation tables (-z conv,tcp -z conv,udp).

Usage: wide_tshark_test.py PACTERRA_CLI CAPTURE...

For every capture the two must list the same conversations: the same protocol, the same two endpoints and
the same number of packets. Without --wide, IPv6 and tagged frames are not kept and cooked files are
refused. Exits 77 (skipped) when tshark is not installed, after the checks that need no tshark.
"""
import collections
import os
import re
import shutil
import subprocess
import sys

ENV = dict(os.environ, TZ="UTC", HOME=os.environ.get("TMPDIR", "/tmp"), XDG_CONFIG_HOME="/nonexistent")


def ours(cli, path, wide=True):
    args = [cli] + (["--wide"] if wide else []) + ["connections", path]
    r = subprocess.run(args, capture_output=True, text=True, env=ENV)
    conversations = collections.Counter()
    for line in r.stdout.splitlines():
        cells = line.split("\t")
        protocol = cells[4].split(":")[0]
        a, b = (c.replace("[", "").replace("]", "") for c in cells[2:4])
        conversations[(protocol, frozenset((a, b)), int(cells[5]))] += 1
    return r.returncode, conversations, r.stderr


ROW = re.compile(r"^(\S+)\s+<->\s+(\S+)\s+[\d,]+\s+[\d,]+\s+\S+\s+[\d,]+\s+[\d,]+\s+\S+\s+([\d,]+)\s")


def tshark(path):
    r = subprocess.run(["tshark", "-n", "-r", path, "-q", "-z", "conv,tcp", "-z", "conv,udp"],
                       capture_output=True, text=True, check=True)
    conversations = collections.Counter()
    protocol = None
    for line in r.stdout.splitlines():
        if line.endswith(" Conversations"):
            protocol = line.split()[0]
        m = ROW.match(line)
        if m and protocol:
            conversations[(protocol, frozenset((m.group(1), m.group(2))), int(m.group(3).replace(",", "")))] += 1
    return conversations


def main():
    cli, captures = sys.argv[1], sys.argv[2:]
    failed = False
    for path in captures:
        name = os.path.basename(path)
        status, wide, err = ours(cli, path)
        if status != 0 or not wide:
            print(f"{name}: pacterra-cli --wide failed ({status}): {err}")
            failed = True
            continue
        # Without the option nothing of the wider intake is kept.
        status, plain, err = ours(cli, path, wide=False)
        cooked = name.startswith("sll")
        if cooked and (status != 1 or "does not hold Ethernet frames" not in err):
            print(f"{name}: a cooked file without --wide was not refused ({status}): {err}")
            failed = True
        if any(e.count(":") > 1 for _, endpoints, _ in plain for e in endpoints):
            print(f"{name}: IPv6 conversations without --wide: {plain}")
            failed = True
        if "vlan" in name and plain:
            print(f"{name}: tagged frames kept without --wide: {plain}")
            failed = True
    if not shutil.which("tshark"):
        print("tshark is not installed: the comparison is skipped")
        return 1 if failed else 77
    for path in captures:
        name = os.path.basename(path)
        _, mine, _ = ours(cli, path)
        theirs = tshark(path)
        if mine != theirs:
            print(f"{name}: the conversations differ")
            print("  only pacterra-cli:", sorted(map(str, mine - theirs)))
            print("  only tshark:      ", sorted(map(str, theirs - mine)))
            failed = True
        else:
            print(f"{name}: {sum(mine.values())} conversations agree with tshark")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
