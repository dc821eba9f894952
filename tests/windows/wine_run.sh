#!/usr/bin/env bash
# Runs the Windows build in BUILD end to end under Wine, in a fresh prefix of
# WINEARCH: win64 (a 32-bit build runs in WoW64) or win32. It fills the URL
# cache through wininet itself (seedcache.exe of the same bitness: Wine's
# 32-bit and 64-bit code hash URL bytes from 0x80 up differently), sets the
# registry with reg, installs Trovex.dll, Trovex.ini, Trovex.lng and
# trovex.exe side by side, and drives the plug-in with trovex.exe: the three
# listing levels, copying out, deleting, opening in a stand-in browser with
# and without one registered, refusing to open what is not a web address,
# and rereading. entrycheck.exe then calls the nine entry points, checking
# the stack of a 32-bit build, and shows the about box's text.
#   wine_run.sh BUILD WINEARCH
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
build=$1
require_wine "$build" "$2"
require_build_files "$build" Trovex.dll Trovex.ini Trovex.lng trovex.exe tests/seedcache.exe \
  tests/standin_browser.exe tests/entrycheck.exe

start_wine_prefix

drive=$WINEPREFIX/drive_c
install_dir='C:\Trovex'
browser_dir="$drive/Program Files/Stand-in Browser"
browser='C:\Program Files\Stand-in Browser\browser.exe'
browser_report="$browser_dir/browser.exe.txt"
app_paths_key='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\IEXPLORE.EXE'
settings_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'

# Runs a program in Wine; its CR LF line ends become LF, as the checks compare.
in_wine() {
  "$WINE" "$@" | tr -d '\r'
}

# The registry views of the prefix: a 64-bit one has two, and a 32-bit
# plug-in reads HKLM\Software in the 32-bit one.
views() {
  if [ "$WINEARCH" == win64 ]; then echo 64 32; else echo 32; fi
}

# Runs reg with the arguments in each view; the view's bitness replaces
# @BITS@ in them. Wine shares a key between the views when the 32-bit one
# lacks it, so a deletion may find nothing left in the second view.
reg_in_views() {
  local view
  for view in $(views); do
    local options=("${@//@BITS@/$view}")
    [ "$WINEARCH" == win32 ] || options+=("/reg:$view")
    "$PREFIX_WINE" reg "${options[@]}" >/dev/null 2>&1 || [ "$1" == delete ] || fail "reg ${options[*]} failed"
  done
}

# Runs trovex.exe with the arguments; OUT, ERR and STATUS hold what it wrote
# and its exit status.
trovex() {
  STATUS=0
  OUT=$("$WINE" "$install_dir\\trovex.exe" "$@" 2>"$work/stderr" | tr -d '\r') || STATUS=$?
  ERR=$(tr -d '\r' <"$work/stderr")
}

expect_status() {
  local what=$1 expected=$2
  [ "$STATUS" -eq "$expected" ] || fail "$what: exit status $STATUS, expected $expected; stderr: $ERR"
}

# The lines of two texts as sets: Wine enumerates its cache in its own order.
expect_same_lines() {
  local what=$1 expected=$2 actual=$3
  if [ "$(sort <<<"$expected")" != "$(sort <<<"$actual")" ]; then
    fail "$what"
    diff <(sort <<<"$expected") <(sort <<<"$actual") | sed 's/^/    /'
  fi
}

# ---------------------------------------------------------------- the seed
# type, URL, site, host: the site and host folders each URL must appear in.
# The history entry never shows; the last www.example.com entry is deleted.
seeds=(
  'normal|http://www.example.com/a.gif|example.com|www.example.com'
  'cookie|Cookie:user@www.example.com/|example.com|www.example.com'
  'normal|http://img.example.com:8080/b.png?x=1|example.com|img.example.com:8080'
  'normal|http://192.0.2.7:81/d.js|192.0.2.7|192.0.2.7:81'
  'normal|http://www.example.co.uk/with space/"quoted".htm|example.co.uk|www.example.co.uk'
  'normal|http://www.example.co.uk/back\"slash\|example.co.uk|www.example.co.uk'
  'sticky|http://static.example.org/s.css|example.org|static.example.org'
  'normal|https://shop.example.net:8443/cart|example.net|shop.example.net:8443'
  'history|Visited: user@http://history.example.net/|-|-'
  'normal|http://www.example.com/doomed.htm|example.com|www.example.com'
  'normal|-new-instance|-new-instance|-new-instance'
  'normal|javascript:alert(1)|javascript|javascript:alert(1)'
)
doomed='http://www.example.com/doomed.htm'
# Two URLs longer than a listed name that share their first 259 bytes: each
# is listed under a name of its own (check_listing), which copies its own
# bytes (check_copies).
long_start="http://www.example.com/$(printf '%0300d' 0 | tr 0 L)"
seeds+=(
  "normal|$long_start/first|example.com|www.example.com"
  "normal|$long_start/second|example.com|www.example.com"
)

seed_field() {
  local IFS='|' fields
  read -r -a fields <<<"${seeds[$1]}"
  echo "${fields[$2]}"
}
seed_type() { seed_field "$1" 0; }
seed_url() { seed_field "$1" 1; }
seed_site() { seed_field "$1" 2; }
seed_host() { seed_field "$1" 3; }
data_file() { echo "$drive/seed/entry$1.bin"; }

# FNV-1a 64 of the argument's bytes, in 16 hexadecimal digits; the shell's
# arithmetic wraps at 64 bits as the hash does.
fnv1a64() {
  local LC_ALL=C text=$1 i byte hash=-3750763034362895579
  for ((i = 0; i < ${#text}; i++)); do
    printf -v byte '%d' "'${text:i:1}"
    hash=$(((hash ^ (byte & 255)) * 1099511628211))
  done
  printf '%016x' "$hash"
}

# The name the plug-in lists a URL under: the URL when it fits in 259 bytes,
# else its first 242 bytes, '~' and the hash of the whole URL.
listed_name() {
  local LC_ALL=C url=$1
  if [ "${#url}" -le 259 ]; then
    echo "$url"
  else
    echo "${url:0:242}~$(fnv1a64 "$url")"
  fi
}

# Each entry's bytes differ in length and hold a NUL, CR LF and ^Z, which a
# copy in text mode would change.
write_seed() {
  mkdir -p "$drive/seed"
  local i manifest=$drive/seed/manifest.txt
  : >"$manifest"
  for i in "${!seeds[@]}"; do
    printf 'GIF89a\0\r\n\x1a entry %d %s\n' "$i" "$(seed_url "$i")" >"$(data_file "$i")"
    printf '%s\t%s\tC:\\seed\\entry%d.bin\n' "$(seed_type "$i")" "$(seed_url "$i")" "$i" >>"$manifest"
  done
}

# Indexes of the entries the plug-in shows: all but history ones and those
# deleted (named in the arguments).
shown_entries() {
  local i
  for i in "${!seeds[@]}"; do
    [ "$(seed_type "$i")" != history ] || continue
    [[ " $* " != *" $(seed_url "$i") "* ]] || continue
    echo "$i"
  done
}

# ---------------------------------------------------------------- the checks
check_listing() {
  local deleted=$1 i sites site hosts host files
  trovex ls '\'
  expect_status "ls \\" 0
  [ "$(head -n 1 <<<"$OUT")" == "file    0  (Reread cache)" ] ||
    fail "the root's first item is not the reread entry: $(head -n 1 <<<"$OUT")"
  sites=$(for i in $(shown_entries "$deleted"); do seed_site "$i"; done | sort -u)
  expect_same_lines "the root lists the sites of the cache" \
    "$(sed 's/^/folder  0  /' <<<"$sites")" "$(tail -n +2 <<<"$OUT")"
  for site in $sites; do
    trovex ls "\\$site"
    hosts=$(for i in $(shown_entries "$deleted"); do [ "$(seed_site "$i")" != "$site" ] || seed_host "$i"; done | sort -u)
    expect_same_lines "site folder $site lists its hosts" "$(sed 's/^/folder  0  /' <<<"$hosts")" "$OUT"
    for host in $hosts; do
      trovex ls "\\$site\\$host"
      files=$(for i in $(shown_entries "$deleted"); do
        [ "$(seed_host "$i")" != "$host" ] || echo "$(stat -c %s "$(data_file "$i")") $(listed_name "$(seed_url "$i")")"
      done)
      expect_same_lines "host folder $host lists its entries and sizes" "$files" \
        "$(sed -E 's/^file +([0-9]+)  /\1 /' <<<"$OUT")"
    done
  done
}

# An entry's path, by the names the plug-in lists.
entry_path() {
  echo "\\$(seed_site "$1")\\$(seed_host "$1")\\$(listed_name "$(seed_url "$1")")"
}

check_copies() {
  local i out copied
  for i in $(shown_entries); do
    out=$drive/out/$i
    trovex get "$(entry_path "$i")" "C:\\out\\$i"
    expect_status "get $(seed_url "$i")" 0
    copied=$(find "$out" -type f 2>/dev/null)
    if [ "$(wc -l <<<"$copied")" -ne 1 ] || [ -z "$copied" ]; then
      fail "get $(seed_url "$i") wrote [$copied], not one file"
    elif ! cmp -s "$copied" "$(data_file "$i")"; then
      fail "the copy of $(seed_url "$i") differs from the bytes seeded"
    fi
  done
}

# Copying the reread entry writes the one-byte placeholder.
check_placeholder() {
  local written
  trovex get '\(Reread cache)' 'C:\out\reread'
  expect_status "get the reread entry" 0
  written=$(find "$drive/out/reread" -type f 2>/dev/null)
  [ -n "$written" ] && [ "$(wc -l <<<"$written")" -eq 1 ] && [ "$(cat "$written")" == "?" ] ||
    fail "the reread entry was copied as [$written], not as a one-byte placeholder"
}

cache_urls() {
  in_wine "$install_dir\\seedcache.exe" list | cut -f 2
}

check_delete() {
  local i
  for i in "${!seeds[@]}"; do [ "$(seed_url "$i")" != "$doomed" ] || break; done
  grep -qxF "$doomed" <<<"$(cache_urls)" || fail "the cache lacks $doomed before the deletion"
  # trovex rm deletes inside the start and end reports of a delete operation
  # and lists again: an entry still listed afterwards fails it.
  trovex rm "$(entry_path "$i")"
  expect_status "rm $doomed" 0
  grep -qx "deleted 1 entry" <<<"$OUT" || fail "rm $doomed reports: $OUT"
  local left
  left=$(cache_urls)
  ! grep -qxF "$doomed" <<<"$left" || fail "$doomed is still in Wine's cache"
  grep -qxF "http://www.example.com/a.gif" <<<"$left" || fail "deleting $doomed took http://www.example.com/a.gif along"
}

# Opens the entry; the stand-in browser must receive its URL as its one
# argument, by the C runtime's and by CommandLineToArgvW's splitting.
check_open() {
  local i=$1 url waited=0
  url=$(seed_url "$i")
  rm -f "$browser_report"
  trovex open "$(entry_path "$i")"
  expect_status "open $url" 0
  while [ ! -f "$browser_report" ] && [ "$waited" -lt 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  [ -f "$browser_report" ] || { fail "open $url: the browser did not start"; return; }
  local report
  report=$(cat "$browser_report")
  grep -qxF "argc: 2" <<<"$report" || fail "open $url: the browser got other than one argument: $report"
  grep -qxF "argv[1]: $url" <<<"$report" || fail "open $url: the C runtime split it otherwise: $report"
  grep -qxF "CommandLineToArgvW: 2" <<<"$report" || fail "open $url: CommandLineToArgvW split it otherwise: $report"
  grep -qxF "wargv[1]: $url" <<<"$report" || fail "open $url: CommandLineToArgvW split it otherwise: $report"
}

check_offline_switch() {
  local value
  value=$(in_wine reg query "$settings_key" /v GlobalUserOffline | awk '$1 == "GlobalUserOffline" { print $3 }')
  [ "$value" == 0x1 ] || fail "GlobalUserOffline reads [$value] after open, expected 0x1"
}

# An entry that is not a web address is refused: result 1, no browser, and
# offline mode left as it was.
check_open_refused() {
  local i=$1 url value
  url=$(seed_url "$i")
  in_wine reg add "$settings_key" /v GlobalUserOffline /t REG_DWORD /d 0 /f >/dev/null
  rm -f "$browser_report"
  trovex open "$(entry_path "$i")"
  expect_status "open $url" 1
  sleep 1
  [ ! -f "$browser_report" ] || fail "open $url started the browser: $(cat "$browser_report")"
  value=$(in_wine reg query "$settings_key" /v GlobalUserOffline | awk '$1 == "GlobalUserOffline" { print $3 }')
  [ "$value" == 0x0 ] || fail "open $url switched offline mode: GlobalUserOffline reads [$value]"
}

check_open_without_browser() {
  reg_in_views delete "$app_paths_key" /f
  rm -f "$browser_report"
  trovex open "$(entry_path 0)"
  expect_status "open without a browser" 1
  grep -qF "the plug-in refused or failed" <<<"$ERR" || fail "open without a browser reports: $ERR"
  [ ! -f "$browser_report" ] || fail "open without a browser started the old one"
}

check_reread() {
  trovex reread
  expect_status reread 0
  [ "$(head -n 1 <<<"$OUT")" == 'open \(Reread cache): the plug-in asks to show a folder, \' ] ||
    fail "reread reports: $(head -n 1 <<<"$OUT")"
  [ "$(sed -n 2p <<<"$OUT")" == "file    0  (Reread cache)" ] || fail "reread does not list the root: $OUT"
}

# Each entry point called once; the about box names the browser's version
# of the plug-in's own registry view, and the cache folder.
check_entry_points() {
  local out status=0 name
  out=$(in_wine "$install_dir\\entrycheck.exe" "$install_dir\\Trovex.dll") || status=$?
  [ "$status" -eq 0 ] || fail "entrycheck: exit status $status: $(grep FAIL <<<"$out")"
  grep -qxF "message box: Trovex" <<<"$out" || fail "the about box shows no caption Trovex: $out"
  grep -qxF "| Browser version: 11.0 ($BITS-bit view)" <<<"$out" ||
    fail "the about box does not name the browser of the $BITS-bit registry view: $(grep 'Browser' <<<"$out")"
  grep -qxF "| Cache folder: $profile\AppData\Local\Microsoft\Windows\INetCache" <<<"$out" ||
    fail "the about box does not name the cache folder: $(grep 'Cache folder' <<<"$out")"
  [ "$BITS" == 32 ] || return 0
  for name in FsInit FsGetDefRootName FsStatusInfo FsFindFirst FsFindNext FsFindClose FsGetFile FsDeleteFile \
    FsExecuteFile; do
    grep -q "^stack: $name takes [0-9]* bytes and keeps EBX, ESI, EDI and EBP$" <<<"$out" ||
      fail "entrycheck did not check the stack of $name"
  done
  grep -qxF "stack: the thunk catches a wrong prototype and a changed ESI" <<<"$out" ||
    fail "entrycheck's thunk is not proven against wrong callees"
}

# ---------------------------------------------------------------- the run
mkdir -p "$drive/Trovex" "$browser_dir"
cp "$build"/{Trovex.dll,Trovex.lng,trovex.exe,tests/seedcache.exe,tests/entrycheck.exe} "$drive/Trovex/"
# Opening is not to ask: the question needs a window.
sed 's/^ConfirmOpen=.*/ConfirmOpen=0/' "$build/Trovex.ini" >"$drive/Trovex/Trovex.ini"
cp "$build/tests/standin_browser.exe" "$browser_dir/browser.exe"

write_seed
in_wine "$install_dir\\seedcache.exe" seed 'C:\seed\manifest.txt' >/dev/null
# The about box shows these two; the cache folder is the one Wine keeps. The
# browser's values stand in both registry views, its version told apart.
reg_in_views add 'HKLM\Software\Microsoft\Internet Explorer' /v Version /d "11.0 (@BITS@-bit view)" /f
profile=$(in_wine cmd /c 'echo %USERPROFILE%')
in_wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Cache \
  /d "$profile\AppData\Local\Microsoft\Windows\INetCache" /f >/dev/null
reg_in_views add "$app_paths_key" /ve /d "$browser" /f
in_wine reg add "$settings_key" /v GlobalUserOffline /t REG_DWORD /d 0 /f >/dev/null

check_listing ""
check_copies
check_placeholder
check_delete
check_listing "$doomed"
check_open 4
check_open 5
check_offline_switch
check_open_refused 10
check_open_refused 11
check_open_without_browser
check_reread
check_entry_points

finish_checks "Wine ($BITS-bit build, $WINEARCH prefix): listings, copies (two long URLs among them), the placeholder, deletion, open with and without a browser, refusals, reread, the nine entry points and the about box as expected"
