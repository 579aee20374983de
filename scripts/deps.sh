#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Usage: scripts/deps.sh [--all]   (--all: also what the tests need: clang for
# the fuzz targets, mingw-w64 for the Windows build, Wine to run it and judge the
# file store, Firefox to read the tabs of a real one, a CUPS scheduler with a PDF
# printer to print the report on, and poppler's tools to read the printed PDF back)
set -euo pipefail
need=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-svg-dev
      libgl-dev liblz4-dev fonts-dejavu-core)
if [ "${1:-}" = "--all" ]; then
  need+=(clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix googletest wine wine64 appstream
         desktop-file-utils firefox-esr cups printer-driver-cups-pdf poppler-utils)
fi
missing=()
for package in "${need[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
