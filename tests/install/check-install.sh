#!/usr/bin/env bash
# Installs the build into a throwaway root and checks what a desktop expects:
# the program's folder with its icons and help page, the command on the path,
# a launcher and autostart entry that validate, and metainfo that validates.
# Usage: check-install.sh BUILD-DIR
set -euo pipefail
build="$1"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
program="$root/usr/lib/moatgate"
for f in moatgate ZavavId.ico TrustHot.ico moatgate-help.html; do
  [ -e "$program/$f" ] || fail "$f is not in the program's folder"
done
for ico in ZavavId.ico TrustHot.ico; do
  [ "$(head -c 4 "$program/$ico" | od -An -tx1 | tr -d ' \n')" = "00000100" ] || fail "$ico is no icon file"
done
[ "$(readlink "$root/usr/bin/moatgate")" = "../lib/moatgate/moatgate" ] || fail "moatgate is not on the path"
[ -x "$root/usr/bin/moatgate-reg" ] || fail "moatgate-reg is not on the path"
launcher="$root/usr/share/applications/io.github.moatgate.Moatgate.desktop"
autostart="$root/etc/xdg/autostart/io.github.moatgate.Moatgate-startup.desktop"
metainfo="$root/usr/share/metainfo/io.github.moatgate.Moatgate.metainfo.xml"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/io.github.moatgate.Moatgate.svg" ] || fail "no launcher icon"
desktop-file-validate "$launcher" || fail "the launcher does not validate"
desktop-file-validate "$autostart" || fail "the autostart entry does not validate"
grep -qx 'Exec=moatgate Startup' "$autostart" || fail "the autostart entry does not start the login check"
# The launcher opens the window whatever the protection (the login check may not).
grep -qx 'Exec=moatgate' "$launcher" || fail "the launcher does not start the program itself"
appstreamcli validate --no-net "$metainfo" || fail "the metainfo does not validate"
echo "ok: installed and validated"
