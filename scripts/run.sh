#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program: the main window over
# the store chosen as the README says. With arguments, runs moatgate-reg with
# them instead (for example: scripts/run.sh query 'HKCU\Software' /s);
# --build-only stops after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target moatgate moatgate-reg
if [ "${1:-}" = "--build-only" ]; then
  exit 0
fi
if [ $# -gt 0 ]; then
  exec build/release/tools/moatgate-reg/moatgate-reg "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to show the window on (DISPLAY is not set); run it inside a desktop session." >&2
  exit 1
fi
exec build/release/app/moatgate
