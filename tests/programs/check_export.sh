#!/usr/bin/env bash
# Fails unless the image (DLL or executable) exports the named function under exactly that name.
set -euo pipefail
objdump=$1 dll=$2 name=$3
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
if ! grep -Eq "\] ${name}\$" <<<"$exports"; then
  echo "$dll does not export '$name'; its exports:"; echo "$exports"; exit 1
fi
echo "$dll exports $name"
