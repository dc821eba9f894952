#!/usr/bin/env bash
# make bench on a real cache: a Wine prefix whose Content index.dat holds
# ENTRIES entries (default 20 000), committed through Wine's own wininet by
# seedcache.exe, read by
#   (a) the Linux build's `trovex tree` beside libmsiecf's msiecfexport (on a
#       copy with the signature it accepts);
#   (b) `trovex ls \` (load the plug-in, fill its snapshot, list the root),
#       less the same on an empty cache, beside a plain read of the same
#       index.dat (cat);
#   (c) `trovex --cache DIR export --format csv` beside msiecfexport, each
#       writing every field it has of every record of the Content index.dat,
#       with the most memory (maximum resident set) any run took. Goal:
#       trovex in at most 0.5x msiecfexport's time.
# Each is the median of RUNS (default 5) runs, in milliseconds of wall time.
#   index_dat.sh BUILD SOURCE_DIR [ENTRIES] [RUNS]
set -euo pipefail
here=$(dirname "$0")
. "$here/../tests/windows/common.sh"
build=$1 source_dir=$2 entries=${3:-20000} runs=${4:-5}
trovex=$build/plugin/trovex
seedcache=$source_dir/build-win64/tests/seedcache.exe
require_wine64
require_msiecf
[ -f "$seedcache" ] || { echo "SKIPPED: $seedcache is missing; run make windows first"; exit 0; }

work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-bench-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work/home TROVEX_SYSTEM=$work/system
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY TROVEX_CACHE TROVEX_WINEPREFIX
mkdir -p "$HOME" "$WINEPREFIX" "$TROVEX_SYSTEM"
trap '"$WINESERVER" -k 2>/dev/null || true; rm -rf "$work"' EXIT

"$WINESERVER" -p
"$WINE64" wineboot --init >/dev/null 2>&1
cp "$seedcache" "$WINEPREFIX/drive_c/seedcache.exe"
# 50 sites of two hosts each, the entries spread evenly over the hosts.
per_host=$(( (entries + 99) / 100 ))
for site in $(seq 1 50); do
  for host in www img; do
    "$WINE64" 'C:\seedcache.exe' bulk "$per_host" "http://$host.site$site.example/page/item?id=" >/dev/null
  done
done
"$WINESERVER" -k
"$WINESERVER" -w
index=$(find "$WINEPREFIX/drive_c/users" -path '*/INetCache/Content.IE5/index.dat' | head -n 1)
patched=$work/patched.dat
cp "$index" "$patched"
printf 'Client UrlCache MMF Ver 5.2\0' | dd of="$patched" conv=notrunc status=none

# The median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"
}

# The median wall time of running the command RUNS times, in milliseconds.
median_ms() {
  local times=() i start end
  for i in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
  done
  median "${times[@]}"
}

# The median wall time of RUNS runs of the command in milliseconds, and the
# largest maximum resident set any run took, in KiB.
measure() {
  local times=() peak=0 i start end rss
  for i in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
    rss=$(tail -n 1 "$work/rss")
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$(median "${times[@]}") $peak"
}

listed=$("$trovex" --wine-prefix "$WINEPREFIX" tree | sed -n 1p)
exported=$("$MSIECFEXPORT" "$patched" | grep -c '^Record type.*: URL$' || true)
echo "index.dat: $(stat -c %s "$index") bytes; trovex tree: $listed; msiecfexport: $exported URL records"
echo "load average: $(cut -d ' ' -f 1-3 /proc/loadavg)"
tree_ms=$(median_ms "$trovex" --wine-prefix "$WINEPREFIX" tree)
msiecf_ms=$(median_ms "$MSIECFEXPORT" "$patched")
fill_ms=$(median_ms "$trovex" --wine-prefix "$WINEPREFIX" ls '\')
mkdir -p "$work/empty"
empty_ms=$(median_ms "$trovex" --cache "$work/empty" ls '\')
cat_ms=$(median_ms cat "$index")
content=$(dirname "$index")
rows=$("$trovex" --cache "$content" export --format csv | wc -l)
echo "trovex export: $rows lines with the header"
if [ -x /usr/bin/time ]; then
  read -r export_ms export_kb < <(measure "$trovex" --cache "$content" export --format csv)
  read -r oracle_ms oracle_kb < <(measure "$MSIECFEXPORT" "$patched")
fi
# Fill alone, inside one process, against a read of the same files.
if [ -x "$build/bench/trovex_bench" ]; then
  "$build/bench/trovex_bench" --wine-prefix="$WINEPREFIX" --benchmark_color=false 2>&1 | grep -E 'median|load average'
fi
printf '%-44s %8s\n' "figure (median of $runs, ms)" "time"
printf '%-44s %8s\n' "(a) trovex tree" "$tree_ms" "(a) msiecfexport" "$msiecf_ms" \
  "(b) trovex ls \\ (load, fill, list the root)" "$fill_ms" "(b) the same on an empty cache" "$empty_ms" \
  "(b) fill and list: the difference" "$((fill_ms - empty_ms))" "(b) cat index.dat" "$cat_ms"
if [ -z "${export_ms:-}" ]; then
  echo "SKIPPED: (c): /usr/bin/time is missing (install time)"
  exit 0
fi
printf '%-44s %8s %12s\n' "(c) figure (median of $runs)" "ms" "max RSS KiB"
printf '%-44s %8s %12s\n' "(c) trovex --cache DIR export --format csv" "$export_ms" "$export_kb" \
  "(c) msiecfexport" "$oracle_ms" "$oracle_kb"
ratio=$(awk -v a="$export_ms" -v b="$oracle_ms" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
echo "goal (c): time at most 0.5x msiecfexport's; saw ${ratio}x"
