#!/usr/bin/env bash
# Prints the report through a real CUPS scheduler and checks the paper, here a
# PDF: a private scheduler (its own configuration, socket and spool in a
# temporary folder) with a cups-pdf queue as its default printer; the program
# prints to the default printer as it would on the user's desktop.
# Usage: cups-print.sh DRIVER   (DRIVER: moatgate_print_through_cups)
# KEEP_PRINTED=FILE keeps a copy of what the printer made, to look at.
# Exit 77 (skipped) with the reason when it cannot run here.
set -euo pipefail
driver=$1

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cupsd lpadmin lpstat pdftotext pdftoppm; do
  command -v "$tool" >/dev/null 2>&1 ||
    skip "$tool is not installed (Debian packages cups, printer-driver-cups-pdf, poppler-utils; scripts/deps.sh --all)"
done
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -e /usr/lib/cups/backend/cups-pdf ] && [ -f "$ppd" ] ||
  skip "the cups-pdf printer is not installed (Debian package printer-driver-cups-pdf)"
# The cups-pdf backend runs only under a scheduler started as root, and reads its
# settings from /etc/cups (one file per queue, this test's own).
[ "$(id -u)" -eq 0 ] || skip "needs root: the cups-pdf printer runs only under a scheduler started as root"
[ -w /etc/cups ] || skip "/etc/cups is not writable, where the PDF printer's settings go"

work=$(mktemp -d /tmp/moatgate-cups.XXXXXX)
chmod 755 "$work"  # the scheduler's filters run as the user lp
queue="MoatgateReport$$"
pdfconf="/etc/cups/cups-pdf-$queue.conf"
cupsd_pid=""
cleanup() {
  [ -z "$cupsd_pid" ] || { kill "$cupsd_pid" 2>/dev/null; wait "$cupsd_pid" 2>/dev/null; } || true
  rm -rf "$pdfconf" "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  { echo "--- scheduler log (end)"; tail -40 "$work/log/error_log"; echo "--- cups-pdf log (end)"
    tail -20 "$work"/log/cups-pdf-*_log; } 2>/dev/null || true
  exit 1
}

mkdir -p "$work/etc" "$work/spool/tmp" "$work/cache" "$work/state" "$work/log" "$work/out" "$work/home"
chown root:lp "$work/spool" "$work/spool/tmp"
chmod 0710 "$work/spool"
chmod 1770 "$work/spool/tmp"
chmod 1777 "$work/out"
cat >"$work/etc/cupsd.conf" <<EOF
Listen $work/cups.sock
LogLevel info
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOF
cat >"$work/etc/cups-files.conf" <<EOF
ServerRoot $work/etc
RequestRoot $work/spool
TempDir $work/spool/tmp
CacheDir $work/cache
StateDir $work/state
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
FileDevice No
EOF
cat >"$pdfconf" <<EOF
Out $work/out
AnonDirName $work/out
Spool $work/cups-pdf-spool
Log $work/log
Grp lp
Label 0
EOF

cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" >"$work/log/cupsd.out" 2>&1 &
cupsd_pid=$!
export CUPS_SERVER="$work/cups.sock" QT_QPA_PLATFORM=offscreen
unset LPDEST PRINTER
for _ in $(seq 100); do
  lpstat -r >/dev/null 2>&1 && break
  kill -0 "$cupsd_pid" 2>/dev/null || { cat "$work/log/cupsd.out"; fail "the scheduler did not start"; }
  sleep 0.1
done
lpstat -r >/dev/null 2>&1 || fail "the scheduler does not answer"
HOME="$work/home" "$driver" unprinted "No printer is installed" || fail "no printer, and the window did not say so"
# The PostScript the PDF printer is fed is made by pdftocairo, which keeps the
# text as text, so that the printed report can be read back.
lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -P "$ppd" -o pdftops-renderer-default=pdftocairo 2>/dev/null ||
  fail "the PDF printer could not be added"
HOME="$work/home" "$driver" unprinted "No printer is set as the default printer" ||
  fail "no default printer, and the window did not say so"
lpadmin -d "$queue" || fail "the PDF printer could not be made the default printer"
echo "Scheduler ready: $(lpstat -d)"

# As a user prints: the default printer, no dialog, one job.
HOME="$work/home" "$driver" print || fail "the window did not print"

# The job goes through the filters and the PDF printer; then its file is complete.
for _ in $(seq 600); do
  if [ -z "$(lpstat -o "$queue" 2>/dev/null)" ] && ls "$work"/out/*.pdf >/dev/null 2>&1; then break; fi
  lpstat -p "$queue" 2>/dev/null | grep -q disabled && fail "the printer stopped: $(lpstat -p "$queue")"
  sleep 0.2
done
[ -z "$(lpstat -o "$queue" 2>/dev/null)" ] || fail "the job did not finish: $(lpstat -o "$queue")"
pdfs=("$work"/out/*.pdf)
[ -e "${pdfs[0]}" ] || fail "no PDF came out of the printer"
[ "${#pdfs[@]}" -eq 1 ] || fail "${#pdfs[@]} files came out of the printer, not one job"
jobs=$(lpstat -W completed -o "$queue" | wc -l)
[ "$jobs" -eq 1 ] || fail "$jobs jobs were printed, not one"
echo "Printed: ${pdfs[0]##*/}"
[ -z "${KEEP_PRINTED:-}" ] || cp "${pdfs[0]}" "$KEEP_PRINTED"
"$driver" check "${pdfs[0]}" || fail "the printed report is not what the list holds"
echo "The report came out of the printer whole, in its colours."
