#!/usr/bin/env bash
# The login check as the desktop runs it: "moatgate Startup" ends at once, with no
# window, when protection is in place; any other argument text opens the window,
# even when Qt takes options out of it first ("-reverse Startup").
# Usage: startup-mode.sh MOATGATE MOATGATE-REG
set -euo pipefail
moatgate="$1"
reg="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
export MOATGATE_REGISTRY="$work/user.reg" QT_QPA_PLATFORM=offscreen HOME="$work"

zone='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\3'
set_dword() { "$reg" add "$zone" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null; }
# Protection in place: every tested action disallowed, logon asks, Java off.
for code in 1001 1004 1200 1201 1206 1400 1402 1405 1406 1605 1609 1800 1802 1804 1805 1806 2001 2004; do
  set_dword "$code" 3
done
set_dword 1A00 65536
set_dword 1E05 65536
"$reg" add "$zone" /v 1C00 /t REG_BINARY /d 00000000 /f >/dev/null

status=0
timeout 30 "$moatgate" Startup || status=$?
[ "$status" -eq 0 ] || fail "moatgate Startup did not end at once with protection in place (status $status)"

status=0
timeout 5 "$moatgate" -reverse Startup || status=$?
[ "$status" -eq 124 ] || fail "moatgate -reverse Startup ended (status $status) instead of opening its window"
echo "ok: start-up mode is judged on the program's own argument text"
