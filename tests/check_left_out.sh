#!/usr/bin/env bash
# Fails when the stub carries code it never runs and that the build means to leave out, so that
# such code does not creep back into the file every user downloads:
#   check_left_out.sh <nm> <unstripped stub> <i686|x86_64>
# The symbols of code the stub does run must be there, which shows the symbol table was read.
set -euo pipefail
nm=$1 exe=$2 arch=$3
symbols=$("$nm" "$exe")
code=$(awk '$2 ~ /^[Tt]$/ && $3 !~ /^\./ { print $3 }' <<<"$symbols")
for wanted in LzmaDec_DecodeToDic _ZN4pugi12xml_document11load_buffer; do
  grep -q "^_*$wanted" <<<"$code" || { echo "no code $wanted in $exe: cannot check it"; exit 1; }
done
status=0
# carries <what> <extended regular expression> <text>: prints the first matches of text and fails.
carries() {
  local found
  found=$(grep -E "$2" <<<"$3" || true)
  [ -z "$found" ] && return 0
  head -n 5 <<<"$found"
  echo "the stub carries $1"; status=1
}
# The LZMA encoder and its match finder: the stub only decodes.
carries "the LZMA encoder" '[[:space:]]_?(LzmaEnc_|MatchFinder_)' "$symbols"
# pugixml's XPath engine: the stub walks its documents by plain child paths.
carries "the XPath engine" '[Xx][Pp]ath' "$code"
# The i686 link leaves out the functions nothing calls (cmake/link_live_code.py), among them
# fmt's floating-point writers and pugixml's number output, with the C library's formatted output
# behind them. (The x86_64 build, for the tests, keeps every function its exception directory
# names.)
if [ "$arch" = i686 ]; then
  carries "floating-point formatting" \
    '^_*(_ZN3fmt2v96detail9dragonbox|_ZN3fmt2v96detail12format_float|_mingw_pformat|_gdtoa)' "$code"
  carries "functions nothing calls" '^_*(_ZN4pugi13xml_attributeaSEd|_ZN3fmt2v96detail11assert_failEPKciS3_)$' "$code"
fi
exit $status
