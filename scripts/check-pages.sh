#!/usr/bin/env bash
# Fails when a shipped page (help, tips, manual pages, README, desktop files) tells anyone to give the window
# or pacterra-cli capabilities: only the capture helper pacterra-capture ever holds capture rights.
set -euo pipefail
cd "$(dirname "$0")/.."
pages=(README.md res/tips.txt res/help/*.html res/man/* res/*.desktop res/*.metainfo.xml)
status=0
# A setcap line whose file is pacterra or pacterra-cli (a path ending in either, not the helper).
if grep -nP 'setcap\s+\S+\s+("|\x27)?\S*\bpacterra(-cli)?("|\x27)?(\s|$|[.,;<`])' "${pages[@]}"; then
  status=1
fi
# Words that give the program, the window or both programs the rights.
if grep -niP 'give (the|both) (program|programs|window)\b[^.]{0,80}capabilit' "${pages[@]}"; then
  status=1
fi
((status == 0)) || echo "^ pages that give capabilities to pacterra or pacterra-cli"
exit $status
