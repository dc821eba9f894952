#!/usr/bin/env bash
# Holds the Linux reader of index.dat files against libmsiecf's: in every
# sample container below SAMPLES (but the damaged ones), the set of URLs the
# Linux URL cache enumerates must be the set of allocated URL records that
# msiecfexport lists.
#   msiecf_samples.sh DUMPCACHE SAMPLES
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
require_msiecf
dumpcache=$1 samples=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/trovex-msiecf.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TROVEX_SYSTEM=$work

checked=0
while IFS= read -r index; do
  folder=$(dirname "$index")
  case $folder in */damaged*) continue ;; esac
  expected=$(msiecf_urls "$index")
  actual=$(TROVEX_CACHE=$folder "$dumpcache" list | cut -f 2 | LC_ALL=C sort)
  [ -n "$expected" ] || fail "msiecfexport lists no URL in $index"
  if [ "$expected" != "$actual" ]; then
    fail "$index: the URLs differ from msiecfexport's (< msiecfexport, > Trovex)"
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /' || true
  fi
  checked=$((checked + 1))
done < <(find "$samples" -name index.dat | sort)
[ "$checked" -gt 0 ] || fail "no sample index.dat below $samples"
finish_checks "msiecfexport: the same URLs in $checked sample containers"
