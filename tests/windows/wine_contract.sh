#!/usr/bin/env bash
# Runs the tests of the Win32 contract, built for Windows in BUILD, under Wine
# in a fresh prefix of WINEARCH (win64: a 32-bit build runs in WoW64; win32):
# the checks of the Linux build's win32_contract_test, against Wine's own
# functions.
#   wine_contract.sh BUILD WINEARCH
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
build=$1
require_wine "$build" "$2"
require_build_files "$build" tests/win32_contract_test.exe
start_wine_prefix
cp "$build/tests/win32_contract_test.exe" "$WINEPREFIX/drive_c/"
# The prefix is a throwaway one: the tests may empty its URL cache.
export TROVEX_CONTRACT_THROWAWAY_USER=1
"$WINE" 'C:\win32_contract_test.exe' 2>&1 | tr -d '\r'
