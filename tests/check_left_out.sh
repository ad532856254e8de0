#!/usr/bin/env bash
# Fails when the stub carries code it never runs and that the build means to leave out, so that
# such code does not creep back into the file every user downloads:
#   check_left_out.sh <nm> <unstripped stub>
# The symbols of code the stub does run must be there, which shows the symbol table was read.
set -euo pipefail
nm=$1 exe=$2
symbols=$("$nm" "$exe")
for wanted in LzmaDec_DecodeToDic; do
  grep -q "[[:space:]]_\?$wanted\$" <<<"$symbols" || { echo "no symbol $wanted in $exe: cannot check it"; exit 1; }
done
status=0
# The LZMA encoder and its match finder: the stub only decodes.
if grep -E '[[:space:]]_?(LzmaEnc_|MatchFinder_)' <<<"$symbols" | head -n 5 | grep .; then
  echo "the stub carries the LZMA encoder"; status=1
fi
exit $status
