#!/usr/bin/env bash
# Holds the Linux build's reading and deleting of a Wine prefix's caches
# against Wine's own. In one fresh prefix, seeded through wininet by
# seedcache.exe:
#  - the Linux URL cache enumerates what Wine's wininet enumerates, entry for
#    entry and in order, with the same types and local files;
#  - msiecfexport finds the same URLs in each of Wine's index.dat files;
#  - trovex --wine-prefix lists every level as the Windows build of Trovex
#    lists it under Wine, item for item and in order;
#  - a deletion by the Linux build leaves the index.dat files and cached
#    files exactly as Wine's own DeleteUrlCacheEntryA leaves them, for a
#    normal, a sticky, a file-less entry and one whose file cannot be
#    removed, and Wine goes on using the cache afterwards;
#  - a deletion is refused while a wineserver runs in the prefix.
# The Windows build in BUILD runs in a prefix of WINEARCH: win64 (a 32-bit
# build runs in WoW64) or win32. Its own seedcache.exe seeds the prefix and
# deletes for Wine: Wine's 32-bit and 64-bit code hash URL bytes from 0x80 up
# differently.
#   wine_caches.sh BUILD WINEARCH LINUX_TROVEX DUMPCACHE
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
build=$1 linux_trovex=$3 dumpcache=$4
require_wine "$build" "$2"
require_build_files "$build" Trovex.dll Trovex.ini Trovex.lng trovex.exe tests/seedcache.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-winecache.XXXXXX")
wine_environment
export TROVEX_SYSTEM=$work/system
unset TROVEX_CACHE TROVEX_WINEPREFIX
mkdir -p "$TROVEX_SYSTEM"

stop_wine() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}
finish() {
  stop_wine
  rm -rf "$work"
}
trap finish EXIT

drive=$WINEPREFIX/drive_c
in_wine() {
  "$WINE" "$@" | tr -d '\r'
}
wine_list() { in_wine 'C:\Trovex\seedcache.exe' list; }
linux_list() { TROVEX_WINEPREFIX=$WINEPREFIX "$dumpcache" list; }

# ---------------------------------------------------------------- the seed
# type, URL, the entry's bytes ("-": no file), site, host.
seeds=(
  'normal|http://www.example.com/a.gif|GIF89a|example.com|www.example.com'
  'normal|http://www.example.com/index.htm|<html>hello</html>|example.com|www.example.com'
  'sticky|http://static.example.org/s.css|body { color: red }|example.org|static.example.org'
  'cookie|Cookie:joe@www.example.com/|joe=1|example.com|www.example.com'
  'history|Visited: joe@http://hist.example.net/|-|-|-'
  'normal|http://nofile.example.com/x|-|example.com|nofile.example.com'
  'normal|http://sp.example.com/a b"c|spaces and "quotes"|example.com|sp.example.com'
  'normal|https://shop.example.net:8443/cart?id=1|cart|example.net|shop.example.net:8443'
  'normal|http://leak.example.org/held.gif|held|example.org|leak.example.org'
)
seed_field() {
  local IFS='|' fields
  read -r -a fields <<<"${seeds[$1]}"
  echo "${fields[$2]}"
}
seed_index() {
  local i
  for i in "${!seeds[@]}"; do [ "$(seed_field "$i" 1)" != "$1" ] || { echo "$i"; return; }; done
}
entry_path() {
  local i
  i=$(seed_index "$1")
  echo "\\$(seed_field "$i" 3)\\$(seed_field "$i" 4)\\$1"
}

write_seed() {
  local i manifest=$drive/seed/manifest.txt data
  mkdir -p "$drive/seed"
  : >"$manifest"
  for i in "${!seeds[@]}"; do
    data=$(seed_field "$i" 2)
    if [ "$data" == - ]; then
      printf '%s\t%s\t-\n' "$(seed_field "$i" 0)" "$(seed_field "$i" 1)" >>"$manifest"
    else
      printf '%s' "$data" >"$drive/seed/$i.bin"
      printf '%s\t%s\tC:\\seed\\%d.bin\n' "$(seed_field "$i" 0)" "$(seed_field "$i" 1)" "$i" >>"$manifest"
    fi
  done
}

# ---------------------------------------------------------------- the checks
# An enumeration with each local file cut to the part below the user's
# Windows folder, with forward slashes.
comparable() {
  sed -E 's#\t.*[\\/]AppData[\\/]Local[\\/]Microsoft[\\/]Windows[\\/]#\t#; s#\\#/#g'
}

check_enumeration() {
  local wine linux
  wine=$(wine_list | comparable)
  linux=$(linux_list | comparable)
  [ "$(wc -l <<<"$wine")" -ge "${#seeds[@]}" ] || fail "Wine enumerates only: $wine"
  if [ "$wine" != "$linux" ]; then
    fail "the Linux URL cache enumerates otherwise than Wine (< Wine, > Linux)"
    diff <(echo "$wine") <(echo "$linux") | sed 's/^/    /' || true
  fi
}

check_msiecf() {
  if ! command -v msiecfexport >/dev/null; then
    echo "SKIPPED: the msiecfexport part: msiecfexport is not installed; install it with: apt-get install libmsiecf-utils"
    return
  fi
  MSIECFEXPORT=$(command -v msiecfexport)
  local index expected actual
  for index in "$windows"/INetCookies/index.dat "$windows"/History/History.IE5/index.dat \
    "$windows"/INetCache/Content.IE5/index.dat; do
    expected=$(msiecf_urls "$index")
    actual=$(TROVEX_CACHE=$(dirname "$index") "$dumpcache" list | cut -f 2 | LC_ALL=C sort)
    [ -n "$expected" ] || fail "msiecfexport lists nothing in $index"
    [ "$expected" == "$actual" ] || fail "$index: msiecfexport lists [$expected], the Linux cache [$actual]"
  done
}

# The folders below the root, then below each site, as the Linux build
# lists them: every level of the tree.
tree_paths() {
  local site host
  echo '\'
  while IFS= read -r site; do
    echo "\\$site"
    while IFS= read -r host; do
      echo "\\$site\\$host"
    done < <("$linux_trovex" --wine-prefix "$WINEPREFIX" ls "\\$site" | sed -n 's/^folder  *[0-9]*  //p')
  done < <("$linux_trovex" --wine-prefix "$WINEPREFIX" ls '\' | sed -n 's/^folder  *[0-9]*  //p')
}

# ls -l: a folder's date is the one the plug-in hands a file panel (the
# shipped settings turn the times on), so the two builds must give each
# folder the same date, and Wine's cache notes the times of every entry.
check_listings() {
  local path linux windows_out status count=0 dated=0
  while IFS= read -r path; do
    linux=$("$linux_trovex" --wine-prefix "$WINEPREFIX" ls -l "$path") || fail "Linux: ls -l $path failed"
    # Wine's own complaints on stderr are not the listing's, but they are
    # shown when the listings differ: they say why a run printed nothing.
    status=0
    windows_out=$("$WINE" 'C:\Trovex\trovex.exe' ls -l "$path" 2>"$work/stderr") || status=$?
    windows_out=$(tr -d '\r' <<<"$windows_out")
    if [ "$linux" != "$windows_out" ]; then
      fail "ls -l $path differs (< Windows build under Wine, exit status $status; > Linux build)"
      diff <(echo "$windows_out") <(echo "$linux") | sed 's/^/    /' || true
      sed 's/^/    stderr: /' "$work/stderr" | head -n 20
    fi
    count=$((count + 1))
    grep -qE '^folder +[0-9]+  [0-9]{4}-' <<<"$windows_out" && dated=$((dated + 1))
  done < <(tree_paths)
  [ "$count" -ge 8 ] || fail "only $count folders were listed"
  [ "$dated" -ge 2 ] || fail "the Windows build dates the folders of only $dated listings"
  echo "listed $count folders alike"
}

# trovex.exe export through Wine's own wininet against the Linux build's
# export of the same prefix: every record's fields, record for record and in
# order (export_diff.py names the fields Wine fills otherwise, and why).
check_export() {
  local windows_out linux_out status=0
  windows_out=$(in_wine 'C:\Trovex\trovex.exe' export --format jsonl 2>"$work/stderr") || status=$?
  [ "$status" -eq 0 ] || { fail "trovex.exe export: exit status $status: $(head -c 500 "$work/stderr")"; return; }
  linux_out=$("$linux_trovex" --wine-prefix "$WINEPREFIX" export --format jsonl) || { fail "Linux: export failed"; return; }
  python3 "$here/export_diff.py" <(echo "$windows_out") <(echo "$linux_out") || fail "the exports differ (above)"
}

# The state a deletion leaves: the three index files and the cached files.
state_of() {
  local out=$1
  mkdir -p "$out"
  cp "$windows"/INetCookies/index.dat "$out/cookies.dat"
  cp "$windows"/History/History.IE5/index.dat "$out/history.dat"
  cp "$windows"/INetCache/Content.IE5/index.dat "$out/content.dat"
  (cd "$windows" && find . -type f ! -name index.dat | LC_ALL=C sort) >"$out/files"
}

restore_caches() {
  stop_wine
  rm -rf "$windows"
  cp -a "$work/caches" "$windows"
}

# The entry's cached file is made read-only, which Wine takes as a file it
# cannot delete: the record must become a LEAK record.
hold_file_of() {
  local file
  file=$(linux_list | awk -F '\t' -v url="$1" '$2 == url { print $3 }')
  [ -n "$file" ] && [ -f "$file" ] || { fail "no cached file for $1"; return; }
  chmod 444 "$file"
}

check_deletion() {
  local kind=$1 url=$2 what
  restore_caches
  [ "$kind" != leak ] || hold_file_of "$url"
  in_wine 'C:\Trovex\seedcache.exe' delete "$url" >/dev/null || fail "Wine cannot delete $url"
  stop_wine
  state_of "$work/by-wine/$kind"

  restore_caches
  [ "$kind" != leak ] || hold_file_of "$url"
  what=$("$linux_trovex" --wine-prefix "$WINEPREFIX" rm "$(entry_path "$url")" 2>&1) ||
    fail "Linux: rm $url failed: $what"
  state_of "$work/by-linux/$kind"
  for file in cookies.dat history.dat content.dat files; do
    cmp -s "$work/by-wine/$kind/$file" "$work/by-linux/$kind/$file" ||
      fail "$kind deletion of $url: $file differs from Wine's: $(cmp "$work/by-wine/$kind/$file" "$work/by-linux/$kind/$file" 2>&1 | head -n 3)"
  done

  # Wine goes on: it lists the others and commits a new entry.
  local listed
  listed=$(wine_list | cut -f 2)
  ! grep -qxF "$url" <<<"$listed" || fail "Wine still lists $url after the Linux deletion"
  [ "$(wc -l <<<"$listed")" -eq $((${#seeds[@]} - 1)) ] || fail "after deleting $url Wine lists: $listed"
  printf 'after %s' "$kind" >"$drive/seed/after.bin"
  printf 'normal\thttp://after.example.com/%s\tC:\\seed\\after.bin\n' "$kind" >"$drive/seed/after.txt"
  in_wine 'C:\Trovex\seedcache.exe' seed 'C:\seed\after.txt' >/dev/null || fail "Wine cannot commit after deleting $url"
  wine_list | cut -f 2 | grep -qxF "http://after.example.com/$kind" ||
    fail "Wine does not list the entry it committed after the Linux deletion of $url"
}

# While a wineserver serves the prefix, the Linux build changes nothing.
check_refused_while_wine_runs() {
  restore_caches
  state_of "$work/before-refusal"
  "$WINESERVER" -p
  local url=http://www.example.com/a.gif out status=0
  out=$(TROVEX_WINEPREFIX=$WINEPREFIX "$dumpcache" delete "$url" 2>&1) || status=$?
  [ "$status" -eq 1 ] && grep -q "error 32)" <<<"$out" || fail "deleting while Wine runs: status $status, $out"
  stop_wine
  state_of "$work/after-refusal"
  diff -r "$work/before-refusal" "$work/after-refusal" >/dev/null || fail "a refused deletion changed the cache"
}

# ---------------------------------------------------------------- the run
boot_wine_prefix
mkdir -p "$drive/Trovex"
cp "$build"/{Trovex.dll,Trovex.ini,Trovex.lng,trovex.exe,tests/seedcache.exe} "$drive/Trovex/"
write_seed
in_wine 'C:\Trovex\seedcache.exe' seed 'C:\seed\manifest.txt' >/dev/null
stop_wine
windows=$(find "$drive/users" -mindepth 5 -maxdepth 5 -path '*/AppData/Local/Microsoft/Windows' | head -n 1)
[ -n "$windows" ] || { fail "Wine made no cache folders"; finish_checks ""; }
cp -a "$windows" "$work/caches"

check_enumeration
check_msiecf
check_listings
check_export
check_deletion normal http://www.example.com/a.gif
check_deletion sticky http://static.example.org/s.css
check_deletion no-file http://nofile.example.com/x
check_deletion leak http://leak.example.org/held.gif
check_refused_while_wine_runs

finish_checks "Wine caches ($BITS-bit build, $WINEARCH prefix): the same enumeration, listings and deletions as Wine's"
