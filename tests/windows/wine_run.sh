#!/usr/bin/env bash
# Runs the 64-bit Windows build end to end under 64-bit Wine. In a fresh Wine
# prefix it fills the URL cache through wininet itself (seedcache.exe), sets
# the registry with reg, installs Trovex.dll, Trovex.ini, Trovex.lng and
# trovex.exe side by side, and drives the plug-in with trovex.exe: the three
# listing levels, copying out, deleting, opening in a stand-in browser with
# and without one registered, and rereading.
#   wine_run.sh SOURCE_DIR
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
require_wine64
build=$1/build-win64
for file in Trovex.dll Trovex.ini Trovex.lng trovex.exe tests/seedcache.exe tests/standin_browser.exe; do
  [ -f "$build/$file" ] && continue
  # Without mingw-w64 there is no Windows build to run.
  require_mingw
  echo "FAIL: $build/$file is missing; run make windows first"
  exit 1
done

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
  "$WINE64" "$@" | tr -d '\r'
}

# Runs trovex.exe with the arguments; OUT, ERR and STATUS hold what it wrote
# and its exit status.
trovex() {
  STATUS=0
  OUT=$("$WINE64" "$install_dir\\trovex.exe" "$@" 2>"$work/stderr" | tr -d '\r') || STATUS=$?
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
)
doomed='http://www.example.com/doomed.htm'

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
        [ "$(seed_host "$i")" != "$host" ] || echo "$(stat -c %s "$(data_file "$i")") $(seed_url "$i")"
      done)
      expect_same_lines "host folder $host lists its entries and sizes" "$files" \
        "$(sed -E 's/^file +([0-9]+)  /\1 /' <<<"$OUT")"
    done
  done
}

entry_path() {
  echo "\\$(seed_site "$1")\\$(seed_host "$1")\\$(seed_url "$1")"
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

check_open_without_browser() {
  in_wine reg delete "$app_paths_key" /f >/dev/null
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

# ---------------------------------------------------------------- the run
mkdir -p "$drive/Trovex" "$browser_dir"
cp "$build"/{Trovex.dll,Trovex.lng,trovex.exe,tests/seedcache.exe} "$drive/Trovex/"
# Opening is not to ask: the question needs a window.
sed 's/^ConfirmOpen=.*/ConfirmOpen=0/' "$build/Trovex.ini" >"$drive/Trovex/Trovex.ini"
cp "$build/tests/standin_browser.exe" "$browser_dir/browser.exe"

write_seed
in_wine "$install_dir\\seedcache.exe" seed 'C:\seed\manifest.txt' >/dev/null
in_wine reg add 'HKLM\Software\Microsoft\Internet Explorer' /v Version /d 11.0 /f >/dev/null
# The about box shows these two; the cache folder is the one Wine keeps.
profile=$(in_wine cmd /c 'echo %USERPROFILE%')
in_wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Cache \
  /d "$profile\AppData\Local\Microsoft\Windows\INetCache" /f >/dev/null
in_wine reg add "$app_paths_key" /ve /d "$browser" /f >/dev/null
in_wine reg add "$settings_key" /v GlobalUserOffline /t REG_DWORD /d 0 /f >/dev/null

check_listing ""
check_copies
check_delete
check_listing "$doomed"
check_open 4
check_open 5
check_offline_switch
check_open_without_browser
check_reread

finish_checks "Wine: listings, copies, deletion, open with and without a browser, and reread as expected"
