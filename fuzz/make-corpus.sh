#!/usr/bin/env bash
# Writes the seed corpus of the image fuzz target into fuzz/corpus/ (the files
# are committed; run this again only to change them). Each file name starts
# with the outcome the file layer must reach: accepted, damaged or ends-early
# (a record or the trailer runs past the end); the corpus replay test checks it.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/corpus"
mkdir -p "$out"
rm -f "$out"/*.bio

# bytes HEX...: the bytes, raw.
bytes() { local b; for b in "$@"; do printf "\\x$b"; done; }

# record HEX*13: the 13 data bytes and their sum (high, low) and exclusive-or.
record() {
    local sum=0 x=0 b
    for b in "$@"; do sum=$((sum + 16#$b)); x=$((x ^ 16#$b)); done
    bytes "$@"
    bytes "$(printf %02x $((sum / 256)))" "$(printf %02x $((sum % 256)))" "$(printf %02x $x)"
}

# The end record as a unit sends it: data bytes, then 0xFF 0xFF 0xFF.
end_record() { bytes 00 11 22 33 44 55 66 77 88 99 aa bb cc ff ff ff; }
trailer() { bytes 4b 34 31 30; }

r1() { record 02 00 c3 12 00 01 02 03 04 05 06 07 08; }
r2() { record 20 30 40 50 60 70 80 90 a0 b0 c0 d0 e0; }
r3() { record 00 00 00 00 00 00 00 00 00 00 00 00 00; }

{ end_record; trailer; }                       > "$out/accepted-0-records-end-only.bio"
{ end_record; trailer; r1; end_record; trailer; } > "$out/accepted-0-records-tail-ignored.bio"
{ r1; end_record; trailer; }                   > "$out/accepted-1-record.bio"
{ r1; r2; r3; end_record; trailer; }           > "$out/accepted-3-records.bio"
{ record ff ff ff ff ff ff ff ff ff ff ff ff ff; end_record; trailer; } > "$out/accepted-all-ff-data.bio"
{ r1; r2; bytes 01 02 03; }                    > "$out/ends-early-short-record.bio"
{ r1; end_record; bytes 4b 34; }               > "$out/ends-early-trailer-short.bio"
{ r1; r2; }                                    > "$out/ends-early-no-end-record.bio"
: > "$out/ends-early-empty.bio"
# A record with one data bit flipped, before a good end record and trailer.
tmp=$(mktemp); trap 'rm -f "$tmp"' EXIT
r2 > "$tmp"
{ r1; head -c 4 "$tmp"; bytes 31; tail -c +6 "$tmp"; end_record; trailer; } > "$out/damaged-second-record.bio"
{ r1; bytes 00 00 00 00 00 00 00 00 00 00 00 00 00 ff ff fe; end_record; trailer; } > "$out/damaged-near-end-mark.bio"
ls -l "$out"
