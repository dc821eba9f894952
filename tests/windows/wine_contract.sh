#!/usr/bin/env bash
# Runs the tests of the Win32 contract, built for 64-bit Windows, under
# 64-bit Wine in a fresh prefix: the checks of the Linux build's
# win32_contract_test, against Wine's own functions.
#   wine_contract.sh SOURCE_DIR
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
require_wine64
program=$1/build-win64/tests/win32_contract_test.exe
if [ ! -f "$program" ]; then
  # Without mingw-w64 there is no Windows build to run.
  require_mingw
  echo "FAIL: $program is missing; run make windows first"
  exit 1
fi
start_wine_prefix
cp "$program" "$WINEPREFIX/drive_c/"
# The prefix is a throwaway one: the tests may empty its URL cache.
export TROVEX_CONTRACT_THROWAWAY_USER=1
"$WINE64" 'C:\win32_contract_test.exe' 2>&1 | tr -d '\r'
