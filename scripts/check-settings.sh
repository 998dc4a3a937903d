#!/usr/bin/env bash
# Fails when the program makes a QSettings anywhere but config/SettingsStore.cpp: QSettings reads its files
# as it is made, and only OpenSettingsStore checks first that they can be read without waiting for ever.
set -euo pipefail
cd "$(dirname "$0")/.."
made='QSettings[[:space:]]*[({]|QSettings[[:space:]]+[[:alnum:]_]+[[:space:]]*[({][^)}]|QSettings>[[:space:]]*\(|new[[:space:]]+QSettings'
if found=$(grep -rnE "$made" --include='*.cpp' --include='*.h' app capture cli config dialogs frontend ui views |
  grep -v '^config/SettingsStore.cpp:' | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//'); then
  echo "$found"
  echo "open the settings with OpenSettingsStore() (config/SettingsStore.h) instead"
  exit 1
fi
echo "every settings store is opened through OpenSettingsStore"
