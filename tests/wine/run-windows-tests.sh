#!/usr/bin/env bash
# Runs the cross-built unit tests under Wine, in a throwaway prefix, so the
# registry contract is checked against Wine's real registry.
set -euo pipefail
exe="$1"
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/moatgate-wine-XXXXXX")
export WINEPREFIX
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1
wine "$exe"
