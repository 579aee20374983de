#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the fuzz targets for a
# bounded time, then through CTest the unit tests (debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors), the
# Windows build's tests under Wine, the checks that Wine and the file store
# agree, and the report printed through a private CUPS scheduler (as root).
# FUZZ_SECONDS sets each fuzz target's time (default 30; 0 skips them).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds="${FUZZ_SECONDS:-30}"
scripts/deps.sh --all

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset debug -DMOATGATE_WINE_TESTS=ON -DMOATGATE_WINDOWS_BUILD_DIR="$PWD/build/windows" >/dev/null
cmake --build --preset debug
# The benchmarks are not run here, but they must keep building.
cmake --preset release >/dev/null
cmake --build --preset release

if [ "$fuzz_seconds" -gt 0 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # Seeds nested far deeper than the store allows (20,000 levels), so that every
  # walk over the keys is tried at depth; the maximum length lets inputs grow so.
  mkdir -p "$work/seeds/store_file" "$work/seeds/reg_file"
  levels=$(printf 'k\\\\%.0s' $(seq 20000))
  printf 'WINE REGISTRY Version 2\n\n[%sk] 0\n"v"=dword:00000001\n' "$levels" > "$work/seeds/store_file/deep.reg"
  levels=$(printf 'k\\%.0s' $(seq 20000))
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\%sk]\r\n"v"=dword:00000001\r\n' \
    "$levels" > "$work/seeds/reg_file/deep.reg"
  for target in store_file reg_file; do
    case "$target" in
      store_file) corpus="fuzz/corpus/store tests/data $work/seeds/store_file" ;;
      reg_file) corpus="fuzz/corpus/regfile $work/seeds/reg_file" ;;
    esac
    mkdir -p "$work/$target"
    echo "Fuzzing $target for ${fuzz_seconds}s"
    # shellcheck disable=SC2086
    build/fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -max_len=131072 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$target-" -print_final_stats=0 "$work/$target" $corpus 2>"$work/$target.log" || {
        tail -40 "$work/$target.log"
        echo "fuzz_$target found a failure"
        exit 1
      }
    grep -E '^Done [0-9]+ runs' "$work/$target.log" || true
  done
fi

ctest --preset debug -j 2
