#!/bin/sh
# Which Windows a program starts on, read from the file itself: every DLL and
# function of its import table and of its delay-import table must be on the
# list (platform/windows/imports.txt: "dll function version" a line), and no
# function newer than Windows 7 SP1. The Windows loader refuses the whole
# program, at every start, for one entry point its Windows lacks.
#   check-imports.sh PROGRAM.exe [LIST]   what stands in the way, one a line;
#                                         status 1 when anything does
#   check-imports.sh --list PROGRAM.exe   the imports as read ("table dll function")
# The file is read byte by byte here (od and awk): objdump -p shows no
# delay-import table; where that table is empty, the program's link map
# (PROGRAM.exe.map) names the delay-loaded functions. 32-bit (PE32) and 64-bit
# (PE32+) programs alike.
set -eu
list_only=0
if [ "${1:-}" = --list ]; then
    list_only=1
    shift
fi
[ $# -ge 1 ] || { echo "usage: $0 [--list] PROGRAM.exe [LIST]" >&2; exit 2; }
exe=$1
allowed=${2:-$(cd "$(dirname "$0")/.." && pwd)/platform/windows/imports.txt}
[ -r "$exe" ] || { echo "check-imports: $exe: no such file" >&2; exit 2; }
[ -r "$allowed" ] || { echo "check-imports: $allowed: no such file" >&2; exit 2; }

imports=$(od -An -v -tu1 "$exe" | awk '
function u16(o) { return b[o] + 256 * b[o + 1] }
function u32(o) { return u16(o) + 65536 * u16(o + 2) }
# The file offset of an RVA; -1 when no section holds it.
function off(rva,   i) {
    for (i = 0; i < ns; i++)
        if (rva >= va[i] && rva - va[i] < raw_size[i]) return raw[i] + rva - va[i]
    return -1
}
function text(rva,   o, s) {
    o = off(rva); s = ""
    if (o < 0) return "?"
    while (o < n && b[o] != 0) s = s sprintf("%c", b[o++])
    return s
}
# The names a thunk table points at, up to its null entry.
function thunks(table, dll, rva,   o, w, low, high) {
    w = plus ? 8 : 4
    for (o = off(rva); o >= 0 && o + w <= n; o += w) {
        low = u32(o); high = plus ? u32(o + 4) : 0
        if (low == 0 && high == 0) return
        if (plus ? high >= 2147483648 : low >= 2147483648)
            print table, dll, "#" (low % 65536)
        else
            print table, dll, text(low % 2147483648 + 2)
    }
    print table, dll, "?"
}
{ for (i = 1; i <= NF; i++) b[n++] = $i + 0 }
END {
    nt = u32(60)
    if (u16(0) != 23117 || u32(nt) != 17744) { print "error", "-", "not a PE file"; exit }
    ns = u16(nt + 6); opt = nt + 24
    plus = u16(opt) == 523
    base = plus ? u32(opt + 24) + 4294967296 * u32(opt + 28) : u32(opt + 28)
    dirs = opt + (plus ? 112 : 96)
    sect = opt + u16(nt + 20)
    for (i = 0; i < ns; i++) {
        va[i] = u32(sect + 40 * i + 12); raw_size[i] = u32(sect + 40 * i + 16)
        raw[i] = u32(sect + 40 * i + 20)
    }
    # Import descriptors: 20 bytes each, up to one without a name.
    if (u32(dirs + 8) != 0)
        for (d = off(u32(dirs + 8)); d >= 0 && u32(d + 12) != 0; d += 20)
            thunks("import", tolower(text(u32(d + 12))), u32(d) != 0 ? u32(d) : u32(d + 16))
    # Delay-import descriptors: 32 bytes each; the old form (attribute bit 0
    # clear) holds addresses where the new one holds RVAs.
    if (u32(dirs + 104) != 0)
        for (d = off(u32(dirs + 104)); d >= 0 && u32(d + 4) != 0; d += 32) {
            rebase = u32(d) % 2 ? 0 : base
            thunks("delay", tolower(text(u32(d + 4) - rebase)), u32(d + 16) - rebase)
        }
}')
# This GNU ld leaves the delay-import directory empty: the link map beside
# the program, where there is one, names each function a delay-load library was
# taken in for (on i686 with its stdcall decoration, and the map shows the
# names there without the leading underscore of the object files).
if [ -r "$exe.map" ]; then
    delayed=$(awk '
        /^delay\/lib[^ (]*_delay\.a\(.*_s[0-9]+\.o\)$/ { dll = $0; sub(/^delay\/lib/, "", dll); sub(/_delay\.a\(.*/, "", dll); next }
        dll != "" && match($0, /\([^()]*\)$/) {
            f = substr($0, RSTART + 1, RLENGTH - 2); sub(/^_?_imp__?/, "", f)
            if (sub(/@[0-9]+$/, "", f)) sub(/^_/, "", f)
            print "delay", tolower(dll) ".dll", f
        }
        { dll = "" }' "$exe.map" | sort -u)
    [ -z "$delayed" ] || imports=$(printf '%s\n%s' "$imports" "$delayed")
fi
if [ $list_only -eq 1 ]; then
    printf '%s\n' "$imports"
    exit 0
fi

printf '%s\n' "$imports" | awk -v list="$allowed" '
BEGIN {
    split("2000 XP Vista 7 8 8.1 10 11", order, " ")
    for (i = 1; i in order; i++) rank[order[i]] = i
    while ((getline line < list) > 0) {
        if (split(line, f, " ") < 3 || f[1] ~ /^#/) continue
        f[1] = tolower(f[1]); version[f[1] " " f[2]] = f[3]; dll[f[1]] = 1
    }
}
$1 == "error" { print $3; bad = 1; next }
{
    what = $1 == "delay" ? " (delay-loaded)" : ""
    if (!($2 in dll)) { print $2 "!" $3 what ": not a DLL of Windows'"'"' own on the list"; bad = 1 }
    else if (!(($2 " " $3) in version)) { print $2 "!" $3 what ": not on the list"; bad = 1 }
    else if (!(version[$2 " " $3] in rank) || rank[version[$2 " " $3]] > rank["7"]) {
        print $2 "!" $3 what ": first in Windows " version[$2 " " $3] ", newer than Windows 7 SP1"
        bad = 1
    }
}
END { exit bad }'
