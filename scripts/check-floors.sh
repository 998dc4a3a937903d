#!/usr/bin/env bash
# Fails when a library includes a header of a floor above its own. Floors from the bottom up; folders on one
# line share a floor and may not include each other.
set -euo pipefail
cd "$(dirname "$0")/.."
floors=(
  "helper"
  "frontend"
  "config"
  "capture"
  "analysis"
  "views"
  "ui"
  "dialogs"
  "app cli"
)
declare -A level
for i in "${!floors[@]}"; do
  for d in ${floors[$i]}; do level[$d]=$i; done
done
status=0
for from in "${!level[@]}"; do
  [[ -d $from ]] || continue
  while IFS=: read -r file _ include; do
    to=${include#*\"}
    to=${to%%/*}
    [[ -n ${level[$to]+x} && $to != "$from" ]] || continue
    if ((level[$to] >= level[$from])); then
      echo "$file includes $to/ (floor $((level[$to]))), which is not below $from/ (floor ${level[$from]})"
      status=1
    fi
  done < <(grep -Hn '^#include "' "$from"/*.cpp "$from"/*.h 2>/dev/null || true)
done
((status == 0)) && echo "every include goes down a floor"
exit $status
