#!/usr/bin/env bash
# Fails unless every DLL the given Windows program imports is a system DLL
# that a clean Windows installation has.
set -euo pipefail
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
command -v "$objdump" >/dev/null || objdump=i686-w64-mingw32-objdump
allowed='^(kernel32|user32|gdi32|shell32|comdlg32|msvcrt|advapi32)\.dll$'
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$dlls" ]; then
  echo "FAIL: $exe: no import table found"; exit 1
fi
bad=$(printf '%s\n' "$dlls" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "FAIL: $exe imports non-system DLLs:"; printf '  %s\n' $bad; exit 1
fi
echo "ok: $(basename "$exe") imports only: $(echo $dlls)"
