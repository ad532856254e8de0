#!/usr/bin/env bash
# Fails when the stub imports any DLL that is not part of Windows itself, so that it never needs
# a runtime library beside it (where a planted copy could be loaded).
set -euo pipefail
objdump=$1 exe=$2
allowed='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|ole32|oleaut32|comctl32|winhttp|crypt32|version|shlwapi|ntdll|msvcrt|dwmapi|uxtheme|bcrypt|wintrust|psapi|userenv|secur32|setupapi|iphlpapi|ws2_32)\.dll$'
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=$(grep -Ev "$allowed" <<<"$dlls" || true)
if [ -n "$bad" ]; then
  echo "the stub imports non-system DLLs:"; echo "$bad"; exit 1
fi
echo "imports: $(tr '\n' ' ' <<<"$dlls")"
