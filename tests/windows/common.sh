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

# Sets WINE64 and WINESERVER to 64-bit Wine's loader and its server. Debian
# keeps both out of PATH, in /usr/lib/wine.
require_wine64() {
  WINE64=$(command -v wine64 || true)
  if [ -z "$WINE64" ] && [ -x /usr/lib/wine/wine64 ]; then WINE64=/usr/lib/wine/wine64; fi
  [ -n "$WINE64" ] || skip_for "64-bit Wine" "wine wine64"
  local dir
  dir=$(dirname "$WINE64")
  for WINESERVER in "$dir/wineserver64" "$dir/wineserver" "$(command -v wineserver || true)"; do
    [ -x "$WINESERVER" ] && return 0
  done
  skip_for "the Wine server" "wine wine64"
}

# Starts 64-bit Wine (require_wine64 first) in a fresh prefix inside a
# temporary folder WORK, removed with the prefix when the script ends.
start_wine_prefix() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-wine.XXXXXX")
  export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work/home
  # No Mono, no Gecko, no menu entries: nothing to download, nothing written
  # outside the prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$HOME" "$WINEPREFIX"
  trap stop_wine_prefix EXIT
  "$WINESERVER" -p
  "$WINE64" wineboot --init >/dev/null 2>&1
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
