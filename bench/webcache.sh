#!/usr/bin/env bash
# make bench on a real WebCacheV01.dat: the Linux build's
# `trovex --cache DIR export --format csv` beside libesedb's esedbexport on
# the same database, each the median of RUNS (default 5) runs in
# milliseconds of wall time, with the most memory (maximum resident set) any
# run took. Goal: trovex in at most 0.25x esedbexport's time, its memory
# within 2x the database's size.
#   webcache.sh BUILD SOURCE_DIR [RUNS]
# The database is SOURCE_DIR/../shared/testdata/webcache/WebCacheV01.dat, or
# the file $TROVEX_WEBCACHE_SAMPLE names.
set -euo pipefail
build=$1 source_dir=$2 runs=${3:-5}
trovex=$build/plugin/trovex
database=${TROVEX_WEBCACHE_SAMPLE:-$source_dir/../shared/testdata/webcache/WebCacheV01.dat}
[ -f "$database" ] || { echo "SKIPPED: WebCache bench: no sample at $database"; exit 0; }
esedbexport=$(command -v esedbexport || true)
[ -n "$esedbexport" ] || { echo "SKIPPED: WebCache bench: esedbexport is missing (install libesedb-utils)"; exit 0; }
[ -x /usr/bin/time ] || { echo "SKIPPED: WebCache bench: /usr/bin/time is missing (install time)"; exit 0; }

work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-bench-webcache.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home TROVEX_SYSTEM=$work/system
unset TROVEX_CACHE TROVEX_WINEPREFIX
mkdir -p "$HOME" "$TROVEX_SYSTEM"
folder=$(dirname "$database")

# Runs the command RUNS times; prints the median wall time in milliseconds
# and the largest maximum resident set in KiB. The time is taken by the
# shell's own timer, so that no other program's start is counted in it; the
# memory by /usr/bin/time, in runs of their own. esedbexport refuses to
# write into a folder that exists: each run starts without it.
measure() {
  local times=() peak=0 i rss TIMEFORMAT=%3R
  for i in $(seq 1 "$runs"); do
    rm -rf "$work/oracle.export"
    times+=($({ time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%d", $1 * 1000 }'))
    rm -rf "$work/oracle.export"
    /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1
    rss=$(tail -n 1 "$work/rss")
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p") $peak"
}

lines=$("$trovex" --cache "$folder" export --format csv 2>"$work/stderr" | wc -l)
size=$(stat -c %s "$database")
echo "WebCache: $database, $size bytes; trovex export: $lines lines with the header"
sed 's/^/  trovex said: /' "$work/stderr"
echo "load average: $(cut -d ' ' -f 1-3 /proc/loadavg)"
read -r trovex_ms trovex_kb < <(measure "$trovex" --cache "$folder" export --format csv)
read -r oracle_ms oracle_kb < <(measure "$esedbexport" -t "$work/oracle" "$database")
printf '%-40s %8s %12s\n' "figure (median of $runs)" "ms" "max RSS KiB"
printf '%-40s %8s %12s\n' "trovex --cache DIR export --format csv" "$trovex_ms" "$trovex_kb" \
  "esedbexport" "$oracle_ms" "$oracle_kb"
ratio=$(awk -v a="$trovex_ms" -v b="$oracle_ms" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
memory=$(awk -v a="$trovex_kb" -v s="$size" 'BEGIN { printf "%.2f", a * 1024 / s }')
echo "goal: time at most 0.25x esedbexport's, memory at most 2x the file; saw ${ratio}x and ${memory}x"
