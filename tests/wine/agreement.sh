#!/usr/bin/env bash
# Wine and the file store agree on a prefix's user.reg, both ways, and nothing is
# written behind a running wine server's back.
# Usage: agreement.sh MOATGATE-REG REGISTRY-ROUNDTRIP [MOATGATE-REG.EXE]
set -euo pipefail
reg="$1"
roundtrip="$2"
reg_exe="${3:-}"
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/moatgate-wine-XXXXXX")
export WINEPREFIX
unset MOATGATE_REGISTRY
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
same() {  # same NAME EXPECTED-FILE ACTUAL-FILE
  if ! diff -u "$2" "$3"; then fail "$1"; fi
  echo "ok: $1"
}
wine_query() { wine reg query "$@" | tr -d '\r'; }

wineboot -i >/dev/null 2>&1
wineserver -w

# 1. A user.reg that Wine wrote round-trips byte for byte through the file store.
"$roundtrip" "$WINEPREFIX/user.reg" || fail "round trip of Wine's user.reg"

# 2. What moatgate-reg writes, Wine reads back identically once it starts.
key='HKCU\Software\MoatgateAgreement'
domains='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
"$reg" add "$key" /v Exec /d 'C:\Program Files\Moatgate\Moatgate.exe' /f >/dev/null
"$reg" add "$key" /v empty /d '' /f >/dev/null
"$reg" add "$key" /ve /d 'default text' /f >/dev/null
"$reg" add "$key" /v 1E05 /t REG_DWORD /d 65536 /f >/dev/null
"$reg" add "$key" /v 1400 /t REG_DWORD /d 3 /f >/dev/null
"$reg" add "$key" /v 1C00 /t REG_BINARY /d 00000100 /f >/dev/null
"$reg" add "$key\Sub" /v '*' /t REG_DWORD /d 2 /f >/dev/null
{
  printf 'Windows Registry Editor Version 5.00\r\n'
  # Enough keys that the import is written as its text is made.
  for i in $(seq 1 4000); do
    printf '\r\n[%s\\site%d.example]\r\n"*"=dword:%08x\r\n' "${domains/HKCU/HKEY_CURRENT_USER}" "$i" $((2 + i % 3))
    if [ $((i % 5)) -eq 0 ]; then
      printf '\r\n[%s\\site%d.example\\www]\r\n"http"=dword:00000004\r\n"https"=dword:00000002\r\n' \
        "${domains/HKCU/HKEY_CURRENT_USER}" "$i"
    fi
  done
} > "$work/sites.reg"
"$reg" import "$work/sites.reg" >/dev/null
grep -qxF '"empty"=""' "$WINEPREFIX/user.reg" || fail "an empty string is not written as Wine writes it"
# Sites added through the site dialogs, as a user adds them.
if [ -n "${MOATGATE_ADD_SITES:-}" ]; then
  MOATGATE_REGISTRY="$WINEPREFIX/user.reg" "$MOATGATE_ADD_SITES" || fail "the site dialogs could not add their sites"
  wine_query "$domains" /s > "$work/wine-dialogs.txt"
  for expected in \
    "$domains\bank.example|    *    REG_DWORD    0x2" \
    "$domains\cc.dd\*.bb|    *    REG_DWORD    0x4" \
    "$domains\shop.example|    *    REG_DWORD    0x3" \
    "$domains\partner.example\files|    ftp    REG_DWORD    0x2" \
    "$domains\partner.example\files|    http    REG_DWORD    0x4"; do
    k="${expected%%|*}"
    v="${expected#*|}"
    K="${k/HKCU/HKEY_CURRENT_USER}" V="$v" awk '
      $0 == ENVIRON["K"] { inside = 1; next } /^HKEY_/ { inside = 0 } inside && $0 == ENVIRON["V"] { found = 1 }
      END { exit !found }
    ' "$work/wine-dialogs.txt" || fail "Wine does not read '$v' under $k"
  done
  echo "ok: Wine reads the sites the dialogs added"
fi
"$reg" query "$key" /s > "$work/ours-key.txt"
"$reg" query "$domains" /s > "$work/ours-domains.txt"
wine_query "$key" /s > "$work/wine-key.txt"
wine_query "$domains" /s > "$work/wine-domains.txt"
same "Wine reads the values moatgate-reg wrote" "$work/ours-key.txt" "$work/wine-key.txt"
same "Wine reads the zone map moatgate-reg imported" "$work/ours-domains.txt" "$work/wine-domains.txt"

# 3. What Wine's reg writes, moatgate-reg reads identically once the server has stopped.
from='HKCU\Software\FromWine'
wine reg add "$from" /v text /d 'Wine wrote this' /f >/dev/null
wine reg add "$from" /v number /t REG_DWORD /d 42 /f >/dev/null
wine reg add "$from" /v bytes /t REG_BINARY /d 0a0b0c /f >/dev/null
wine reg add "$from" /v expand /t REG_EXPAND_SZ /d '%TEMP%\x' /f >/dev/null
wine reg add "$from" /v multi /t REG_MULTI_SZ /d 'one\0two' /f >/dev/null
wine reg add "$from\Deeper" /v '*' /t REG_DWORD /d 4 /f >/dev/null
wine reg add "$domains\wine.example" /v '*' /t REG_DWORD /d 2 /f >/dev/null
wine_query "$from" /s > "$work/wine-from.txt"
wine_query "$domains\wine.example" > "$work/wine-site.txt"
wineserver -k
wineserver -w
"$reg" query "$from" /s > "$work/ours-from.txt"
"$reg" query "$domains\wine.example" > "$work/ours-site.txt"
same "moatgate-reg reads what Wine wrote" "$work/wine-from.txt" "$work/ours-from.txt"
same "moatgate-reg reads the site Wine added" "$work/wine-site.txt" "$work/ours-site.txt"
"$roundtrip" "$WINEPREFIX/user.reg" || fail "round trip of the user.reg Wine saved after the changes"

# 4. Names that only look alike stay apart, as Wine keeps them (its case table, one
#    UTF-16 unit at a time): U+0130, U+0131, U+017F, the Kelvin, Ohm and Angstrom
#    signs, capital sharp s, final sigma, the titlecase digraph; case pairs of one
#    script are one name. Both stores get the same values and subkeys in the same
#    order; Wine exports both alike, and moatgate-reg reads both alike.
export LC_ALL=C.UTF-8  # so that $'\u....' gives UTF-8
names=(i I $'\u0130' $'\u0131' s $'\u017f' k $'\u212a' $'\u03c3' $'\u03a3' $'\u03c2' $'\u00e9' $'\u00c9'
       $'\u0436' $'\u0416' $'\u00df' $'\u1e9e' $'\u03c9' $'\u2126' $'\u00e5' $'\u212b' $'\u01c6' $'\u01c5'
       $'\u01c4' $'\u00ff' $'\u0178')
names_reg() {  # names_reg KEY: the values and subkeys as a registry editor file (UTF-16)
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\%s]\r\n' "$1"
    for i in "${!names[@]}"; do printf '"%s"=dword:%08x\r\n' "${names[$i]}" "$i"; done
    for i in "${!names[@]}"; do printf '\r\n[HKEY_CURRENT_USER\\Software\\%s\\%s]\r\n' "$1" "${names[$i]}"; done
  } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }
}
names_reg MoatgateNamesOurs > "$work/names-ours.reg"
names_reg MoatgateNamesWine > "$work/names-wine.reg"
"$reg" import "$work/names-ours.reg" >/dev/null
wine reg import "$(winepath -w "$work/names-wine.reg")" >/dev/null 2>&1 || fail "Wine's reg cannot import the names"
for which in Ours Wine; do
  wine reg export "HKCU\\Software\\MoatgateNames$which" "$(winepath -w "$work/names-$which.exported")" /y >/dev/null
  iconv -f UTF-16 -t UTF-8 "$work/names-$which.exported" | tr -d '\r' | sed "s/MoatgateNames$which/MoatgateNames/" \
    > "$work/names-$which.txt"
done
same "Wine reads look-alike names as moatgate-reg wrote them" "$work/names-Wine.txt" "$work/names-Ours.txt"
wineserver -k
wineserver -w
"$reg" query 'HKCU\Software\MoatgateNamesOurs' /s | sed 's/MoatgateNamesOurs/MoatgateNames/' > "$work/query-ours.txt"
"$reg" query 'HKCU\Software\MoatgateNamesWine' /s | sed 's/MoatgateNamesWine/MoatgateNames/' > "$work/query-wine.txt"
same "moatgate-reg reads look-alike names as Wine wrote them" "$work/query-ours.txt" "$work/query-wine.txt"
[ "$(grep -c 'REG_DWORD' "$work/query-wine.txt")" -eq 20 ] || fail "Wine did not keep 20 of the 26 names apart"
"$roundtrip" "$WINEPREFIX/user.reg" || fail "round trip of the user.reg holding look-alike names"

# 5. The Windows build of moatgate-reg, on Wine's registry, prints what the Linux build prints.
if [ -n "$reg_exe" ]; then
  "$reg" query "$key" /s > "$work/ours-key.txt"
  "$reg" query "$domains" /s > "$work/ours-domains.txt"
  wine "$reg_exe" query "$key" /s | tr -d '\r' > "$work/exe-key.txt"
  wine "$reg_exe" query "$domains" /s | tr -d '\r' > "$work/exe-domains.txt"
  same "the Windows build reads the same values" "$work/ours-key.txt" "$work/exe-key.txt"
  same "the Windows build reads the same zone map" "$work/ours-domains.txt" "$work/exe-domains.txt"
  wineserver -k
  wineserver -w
fi

# 6. While the prefix's server runs, moatgate-reg refuses to write and changes nothing.
wineserver -p 120
wine reg query 'HKCU\Software' >/dev/null  # the server is up once this answers
before=$(sha256sum < "$WINEPREFIX/user.reg")
if "$reg" add "$key" /v late /d x /f > "$work/out.txt" 2> "$work/err.txt"; then
  fail "moatgate-reg wrote while the wine server ran"
fi
grep -q "is in use" "$work/err.txt" || fail "no clear message: $(cat "$work/err.txt")"
grep -q "wineserver -k" "$work/err.txt" || fail "the message does not say how to stop the prefix's programs"
[ "$before" = "$(sha256sum < "$WINEPREFIX/user.reg")" ] || fail "user.reg changed while the wine server ran"
echo "ok: no write while the wine server runs"
wineserver -k
wineserver -w
"$reg" add "$key" /v late /d x /f >/dev/null || fail "moatgate-reg cannot write after the server stopped"
echo "ok: writes again once the server has stopped"
