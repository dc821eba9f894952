#!/usr/bin/env bash
# Checks what the Windows builds install. With mingw's objdump: each
# Trovex.dll is a PE of its bitness that exports exactly the nine entry points
# under their plain names, and the DLL and every program beside it import only
# libraries that every Windows system has, so that no runtime DLL of the
# compiler has to travel with them; the 32-bit entry points are stdcall.
# Beside the DLL: Trovex.ini as it is, Trovex.lng in Windows-1252, and the
# host program trovex.exe. Each 32-bit entry point returns with ret N, N the
# bytes of its prototype's arguments.
#   check_builds.sh SOURCE_DIR
set -euo pipefail
here=$(dirname "$0")
. "$here/common.sh"
require_mingw
source_dir=$1

entry_points="FsDeleteFile FsExecuteFile FsFindClose FsFindFirst FsFindNext FsGetDefRootName FsGetFile FsInit FsStatusInfo"
system_libraries="advapi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll wininet.dll"
# The names of the export table, one a line, sorted.
exported_names() {
  awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
       table && /^\t\[ *[0-9]+\]/ { print $NF; next }
       table { table = 0 }' <<<"$1" | sort
}

# The imported library names, lower case, one a line, sorted.
imported_libraries() {
  awk '/DLL Name:/ { print tolower($3) }' <<<"$1" | sort -u
}

check_imports() {
  local file=$1 dump=$2 library
  for library in $(imported_libraries "$dump"); do
    [[ " $system_libraries " == *" $library "* ]] || fail "$file imports $library, which is not a system library"
  done
}

# The settings file is copied as it is; the language file holds the same
# text in Windows-1252, so it converts back to the repository's UTF-8 exactly.
check_data_files() {
  local dir=$1
  cmp -s "$source_dir/data/Trovex.ini" "$dir/Trovex.ini" || fail "$dir/Trovex.ini differs from data/Trovex.ini"
  [ -f "$dir/Trovex.lng" ] || { fail "$dir/Trovex.lng is missing"; return; }
  iconv -f WINDOWS-1252 -t UTF-8 "$dir/Trovex.lng" | cmp -s - "$source_dir/data/Trovex.lng" ||
    fail "$dir/Trovex.lng is not data/Trovex.lng in Windows-1252"
}

check_plugin() {
  local dir=$1 magic=$2 objdump=$3 dll=$1/Trovex.dll dump names
  [ -f "$dll" ] || { fail "$dll is missing"; return; }
  dump=$("$objdump" -p "$dll")
  grep -q "^Magic.*($magic)" <<<"$dump" || fail "$dll is not a $magic image"
  names=$(exported_names "$dump" | tr '\n' ' ')
  [ "$names" == "$entry_points " ] || fail "$dll exports [${names% }], expected [$entry_points]"
  check_imports "$dll" "$dump"
  echo "$dll exports: ${names% }"
  echo "$dll imports: $(imported_libraries "$dump" | tr '\n' ' ')"
  [ -f "$dir/trovex.exe" ] || fail "$dir/trovex.exe is missing"
  local program
  for program in "$dir"/*.exe "$dir"/tests/*.exe; do
    [ -f "$program" ] || continue
    check_imports "$program" "$("$objdump" -p "$program")"
  done
}

# On 32-bit Windows hosts call the entry points as stdcall: the callee takes
# its arguments off the stack, with ret N. The bytes of each entry point's
# arguments, by the host's prototypes: four for each argument.
stdcall_bytes="FsDeleteFile=4 FsExecuteFile=12 FsFindClose=4 FsFindFirst=8 FsFindNext=8 FsGetDefRootName=8 FsGetFile=16 FsInit=16 FsStatusInfo=12"

# The compiler marks such a function with the bytes of its arguments
# (_FsInit@16); --kill-at drops the mark from the export table only, so the
# compiled object still shows it.
check_stdcall() {
  local object expected actual
  object=$(find "$source_dir/build-win32" -name Trovex.cpp.obj | head -n 1)
  [ -n "$object" ] || { fail "no compiled Trovex.cpp in build-win32"; return; }
  expected=$(for entry in $stdcall_bytes; do echo "_${entry%=*}@${entry#*=}"; done | sort | tr '\n' ' ')
  actual=$(i686-w64-mingw32-nm -g --defined-only "$object" | awk '$3 ~ /^_Fs/ { print $3 }' | sort | tr '\n' ' ')
  [ "$actual" == "$expected" ] || fail "the 32-bit entry points are not stdcall with their arguments: [$actual]"
}

# The address of each export, NAME ADDRESS (hexadecimal) a line: the export
# table's names give the index of their address.
export_addresses() {
  local base name rva
  base=$(awk '/^ImageBase/ { print $2 }' <<<"$1")
  awk '/^Export Address Table -- / { table = "address"; next }
       /\[Ordinal\/Name Pointer\] Table/ { table = "name"; next }
       /^$/ { table = "" }
       table == "address" && /Export RVA/ { gsub(/[][]/, " "); rva[$1] = $4 }
       table == "name" && /^\t\[/ { gsub(/[][]/, " "); print $2, rva[$1] }' <<<"$1" |
    while read -r name rva; do printf '%s %x\n' "$name" $((0x$base + 0x$rva)); done
}

# What the linked DLL does: each export's returns, from its address to the
# next symbol, must all be ret N with N its argument bytes.
check_returns() {
  local dll=$1 dump=$2 code name address expected returns checked=0
  code=$(i686-w64-mingw32-objdump -d --no-show-raw-insn -j .text "$dll")
  while read -r name address; do
    expected=$(tr ' ' '\n' <<<"$stdcall_bytes" | awk -F= -v name="$name" '$1 == name { printf "ret $0x%x", $2 }')
    returns=$(awk -v start="$address" '
      $0 ~ "^0*" start " <" { inside = 1; next }
      inside && /^[0-9a-f]+ <.*>:$/ { exit }
      inside && $2 == "ret" { print $2, $3 }' <<<"$code" | sort -u | sed 's/ *$//')
    [ -n "$returns" ] && [ "$returns" == "$expected" ] ||
      fail "$name in $dll returns with [$(echo $returns)], expected [$expected]"
    checked=$((checked + 1))
  done < <(export_addresses "$dump")
  [ "$checked" -eq 9 ] || fail "the returns of $checked exports of $dll were checked, not of 9"
}

for bits in 32 64; do
  check_data_files "$source_dir/build-win$bits"
done
check_plugin "$source_dir/build-win32" PE32 i686-w64-mingw32-objdump
check_plugin "$source_dir/build-win64" PE32+ x86_64-w64-mingw32-objdump
check_stdcall
check_returns "$source_dir/build-win32/Trovex.dll" "$(i686-w64-mingw32-objdump -p "$source_dir/build-win32/Trovex.dll")"
finish_checks "both libraries export the nine entry points and import only system libraries;
the 32-bit ones take their arguments' bytes off the stack (ret N);
Trovex.ini, Trovex.lng (Windows-1252) and trovex.exe stand beside them"
