#!/bin/sh
# tessel.exe is a 64-bit GUI program that imports system DLLs only.
#   pe_imports.sh OBJDUMP EXE
allowed=" advapi32 comctl32 comdlg32 gdi32 iphlpapi kernel32 msvcrt ole32 oleaut32 shell32 ucrtbase user32 wininet wtsapi32 "
headers=$("$1" -p "$2") || exit 1
dlls=$(echo "$headers" | sed -n 's/^\tDLL Name: \(.*\)\.dll$/\1/Ip' | tr 'A-Z' 'a-z' | tr '\n' ' ')
echo "imports: $dlls"
echo "$headers" | grep -Eq '^Magic.*\(PE32\+\)' || { echo "FAIL: not PE32+"; exit 1; }
echo "$headers" | grep -q 'file format pei-x86-64' || { echo "FAIL: not x86-64"; exit 1; }
echo "$headers" | grep -Eq '^Subsystem.*\(Windows GUI\)' || { echo "FAIL: not a GUI program"; exit 1; }
[ -n "$dlls" ] || { echo "FAIL: no imports"; exit 1; }
for dll in $dlls; do
    case "$allowed" in *" $dll "*) ;; *) echo "FAIL: imports $dll"; exit 1 ;; esac
done
