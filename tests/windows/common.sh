# Sourced by the Windows test scripts: finds the tools they need, or ends the
# test as skipped (exit 77), naming the missing package and how to install it;
# counts failed checks, so that one run reports all of them.

SKIP=77

skip_for() {
  echo "SKIPPED: $1 is not installed; install it with: apt-get install $2"
  exit "$SKIP"
}

require_mingw() {
  local missing=()
  command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
  [ ${#missing[@]} -eq 0 ] || skip_for "mingw-w64 (${missing[*]})" "${missing[*]}"
}

# The bitness of a Windows program or library, 32 or 64, by its PE header's
# machine field; empty when the file is none.
pe_bits() {
  local offset machine
  offset=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 0
  machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' ')
  case $machine in
    014c) echo 32 ;;
    8664) echo 64 ;;
  esac
}

# Ends the test as skipped when the kernel cannot start the 32-bit program
# LOADER at all: a kernel built or booted without IA32 emulation refuses
# every 32-bit executable with ENOEXEC, and the shell gives 126. No package
# mends that, so it is a skip, not a failure; any other failure of the
# loader is the test's to report.
require_32bit_kernel() {
  local status=0
  "$1" --version >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 126 ]; then
    echo "SKIPPED: this kernel does not run 32-bit programs ($1: exec format error); the 32-bit build runs under Wine only where the kernel has IA32 emulation"
    exit "$SKIP"
  fi
}

# require_wine BUILD PREFIX_ARCH: readies Wine for the programs of the
# Windows build in BUILD in a prefix of PREFIX_ARCH, win64 (where a 32-bit
# build runs in WoW64) or win32 (32-bit only). Sets BITS, the build's bitness;
# WINE, the loader of its programs; PREFIX_WINE, the loader that makes the
# prefix; and WINESERVER, the 64-bit server whenever there is one, which
# serves both kinds of prefix. Debian keeps them out of PATH, in
# /usr/lib/wine.
require_wine() {
  local build=$1 dir=/usr/lib/wine wine32 wine64
  export WINEARCH=$2
  BITS=$(pe_bits "$build/Trovex.dll")
  wine64=$(command -v wine64 || true)
  [ -n "$wine64" ] || [ ! -x "$dir/wine64" ] || wine64=$dir/wine64
  [ -z "$wine64" ] || dir=$(dirname "$wine64")
  [ -x "$dir/wine" ] && wine32=$dir/wine
  if [ "$WINEARCH" == win64 ]; then
    [ -n "$wine64" ] || skip_for "64-bit Wine" "wine wine64"
    PREFIX_WINE=$wine64
  fi
  if [ "$BITS" == 32 ] || [ "$WINEARCH" == win32 ]; then
    [ -n "${wine32:-}" ] ||
      skip_for "32-bit Wine" "wine32:i386 (after dpkg --add-architecture i386 && apt-get update)"
    require_32bit_kernel "$wine32"
    [ "$WINEARCH" == win64 ] || PREFIX_WINE=$wine32
  fi
  if [ "$BITS" == 32 ]; then WINE=$wine32; else WINE=$wine64; fi
  for WINESERVER in "$dir/wineserver64" "$dir/wineserver32" "$(command -v wineserver || true)"; do
    [ -x "$WINESERVER" ] && export WINESERVER && return 0
  done
  skip_for "the Wine server" "wine wine64"
}

# Sets WINE64 and WINESERVER, for a caller that runs only 64-bit programs.
require_wine64() {
  require_wine "" win64
  WINE64=$WINE
}

# The files a run needs from BUILD, as its arguments name them: a missing
# one fails the test, or skips it without mingw-w64.
require_build_files() {
  local build=$1 file
  shift
  for file in "$@"; do
    [ -f "$build/$file" ] && continue
    require_mingw
    echo "FAIL: $build/$file is missing; run make windows first"
    exit 1
  done
}

# Sets the environment of a fresh prefix in WORK: no Mono, no Gecko, no
# menu entries, so nothing to download and nothing written outside it.
wine_environment() {
  export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work/home
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$HOME" "$WINEPREFIX"
}

# Makes the prefix, with the server running (require_wine first).
boot_wine_prefix() {
  "$WINESERVER" -p
  "$PREFIX_WINE" wineboot --init >/dev/null 2>&1
}

# Starts Wine (require_wine first) in a fresh prefix inside a temporary
# folder WORK, removed with the prefix when the script ends.
start_wine_prefix() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-wine.XXXXXX")
  wine_environment
  trap stop_wine_prefix EXIT
  boot_wine_prefix
}

stop_wine_prefix() {
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$work"
}

failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Ends the test: failed when any check failed, else passed with the summary.
finish_checks() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures checks failed"
    exit 1
  fi
  echo "$1"
}

# Sets MSIECFEXPORT to libmsiecf's export tool, the reference reader of
# index.dat files.
require_msiecf() {
  MSIECFEXPORT=$(command -v msiecfexport || true)
  [ -n "$MSIECFEXPORT" ] || skip_for "msiecfexport" "libmsiecf-utils"
}

# The URLs of the allocated URL records msiecfexport lists in FILE, one a
# line, sorted. Wine's files carry a signature of their own that the tool
# refuses, so it reads a copy with the signature of the layout they share.
msiecf_urls() {
  local file=$1 copy
  copy=$(mktemp "${TMPDIR:-/tmp}/trovex-msiecf.XXXXXX")
  cp "$file" "$copy"
  if [ "$(head -c 18 "$copy")" == "WINE URLCache Ver " ]; then
    printf 'Client UrlCache MMF Ver 5.2\0' | dd of="$copy" conv=notrunc status=none
  fi
  "$MSIECFEXPORT" "$copy" | awk -F '\t+: ' '
    /^Record type/ { url = ($2 == "URL") }
    /^Location/ && url { print $2; url = 0 }' | LC_ALL=C sort
  rm -f "$copy"
}
