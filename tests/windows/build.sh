#!/usr/bin/env bash
# Cross-compiles the plug-in for 32-bit and 64-bit Windows (make windows), for
# the tests that check the libraries and run them under Wine.
#   build.sh SOURCE_DIR WERROR(ON|OFF)
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
require_mingw

# This runs inside a make of the Linux build; the Windows builds keep their
# own job count.
exec env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$1" windows CMAKE_FLAGS="-DTROVEX_WERROR=$2"
