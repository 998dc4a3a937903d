#!/usr/bin/env bash
# Fails when a test labelled tsan runs an executable that the target tests_tsan does not build: the
# ThreadSanitizer step of scripts/test.sh builds only that target, and would report the test as not built.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
listed=$build/tests_tsan.txt
[[ -s $listed ]] || { echo "$listed is missing or empty"; exit 1; }
status=0
# The program each test runs: an executable of the build tree named in its command (tests not built yet are
# not listed by CTest, and are checked where they are).
while read -r program; do
  grep -qxF "$program" "$listed" || { echo "labelled tsan but not built by tests_tsan: $program"; status=1; }
done < <(ctest --test-dir "$build" -L tsan --show-only=json-v1 2>/dev/null |
  grep -o "\"$build/bin/[^\"]*\"" | tr -d '"' | sort -u)
exit $status
