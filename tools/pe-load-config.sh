#!/bin/sh
# Points a linked Windows executable's load configuration entry (data
# directory 10) at its _load_config_used structure, which this GNU ld does
# not do by itself. The address comes from the link map, the size from the
# structure's first four bytes.
#   tools/pe-load-config.sh OBJDUMP EXE MAP
set -eu
objdump=$1 exe=$2 map=$3
vma=$(awk '$2 == "_load_config_used" || $2 == "__load_config_used" { print $1; exit }' "$map")
[ -n "$vma" ] || { echo "pe-load-config: no _load_config_used in $map" >&2; exit 1; }
base=$("$objdump" -p "$exe" | awk '$1 == "ImageBase" { print $2; exit }')
magic=$("$objdump" -p "$exe" | awk '$1 == "Magic" { print $2; exit }')
rva=$(( vma - 0x$base ))
# The structure's Size field, as objdump shows the bytes at its address.
size_le=$("$objdump" -s --start-address=$((vma)) --stop-address=$((vma + 4)) "$exe" |
          awk '/^ [0-9a-f]+ / { print $2; exit }')
size=$(( 0x$(echo "$size_le" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/') ))
[ "$size" -gt 0 ] || { echo "pe-load-config: empty structure" >&2; exit 1; }
# e_lfanew, then the optional header after the 24 bytes of signature and file
# header; the data directories start at 96 (PE32) or 112 (PE32+).
lfanew=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
case "$magic" in
    010b) dirs=96 ;;
    020b) dirs=112 ;;
    *) echo "pe-load-config: optional header magic $magic" >&2; exit 1 ;;
esac
offset=$(( lfanew + 24 + dirs + 10 * 8 ))
le() { printf "\\$(printf %03o $(( $1 & 255 )))\\$(printf %03o $(( ($1 >> 8) & 255 )))\\$(printf %03o $(( ($1 >> 16) & 255 )))\\$(printf %03o $(( ($1 >> 24) & 255 )))"; }
{ le "$rva"; le "$size"; } | dd of="$exe" bs=1 seek="$offset" conv=notrunc status=none
