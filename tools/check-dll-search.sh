#!/bin/sh
# Checks what the shipped brisken.exe imports: statically only DLLs that are
# KnownDLLs on every Windows from 7 SP1 to 11 (Windows takes those from the
# system folder whatever lies beside the program); every other system DLL
# delay-loaded (cmake/delay_load.cmake), as the link map shows; and a load
# configuration entry (DependentLoadFlags).
#   tools/check-dll-search.sh OBJDUMP EXE MAP
set -eu
objdump=$1 exe=$2 map=$3
known="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll ws2_32.dll comdlg32.dll"
status=0
for dll in $("$objdump" -p "$exe" | awk '/DLL Name:/ { print tolower($3) }'); do
    case " $known " in
        *" $dll "*) ;;
        *) echo "check-dll-search: $dll is imported statically but is no KnownDLL" >&2; status=1 ;;
    esac
done
for name in $(sed -n 's/^set(BRISKEN_DELAY_LOADED \(.*\))$/\1/p' "$(dirname "$0")/../cmake/delay_load.cmake"); do
    grep -q "_DELAY_IMPORT_DESCRIPTOR_.*lib${name}_delay_a" "$map" ||
        { echo "check-dll-search: $name.dll is not delay-loaded" >&2; status=1; }
done
"$objdump" -p "$exe" | awk '/Load Configuration Directory/ { if ($2 ~ /^0+$/) exit 1; found = 1 } END { exit !found }' ||
    { echo "check-dll-search: no load configuration" >&2; status=1; }
[ $status -eq 0 ] && echo "check-dll-search: $exe imports only KnownDLLs statically"
exit $status
