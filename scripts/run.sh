#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program. Until the main window
# exists, that is moatgate-reg showing the zone map of the current store; any
# arguments are handed to moatgate-reg instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target moatgate-reg
reg=build/release/tools/moatgate-reg/moatgate-reg
if [ $# -gt 0 ]; then
  exec "$reg" "$@"
fi
exec "$reg" query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap' /s
