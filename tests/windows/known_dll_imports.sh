#!/usr/bin/env bash
# Users of the machine may create files in the installation folder (Jet's lock file lives there),
# and Windows looks for an add-in's or a program's imports in its own folder first, except for the
# system's known DLLs. So everything we ship imports known DLLs only.
#   known_dll_imports.sh OBJDUMP FILE...
set -u
objdump=$1
shift
known=" advapi32.dll comdlg32.dll gdi32.dll imagehlp.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll "
known+="shell32.dll shlwapi.dll user32.dll ws2_32.dll wldap32.dll "
status=0
for file in "$@"; do
    while read -r dll; do
        if [[ $known != *" ${dll,,} "* ]]; then
            echo "FAIL: $(basename "$file") imports $dll, which Windows would look for beside it first"
            status=1
        fi
    done < <("$objdump" -p "$file" | awk '/DLL Name:/ { print $3 }')
done
[[ $status -eq 0 ]] && echo "imports of $# files: known DLLs only"
exit $status
