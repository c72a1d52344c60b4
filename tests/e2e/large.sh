#!/usr/bin/env bash
# A 100 MiB file through curl, the page host and the component: the stored
# copy must equal the upload, and it must be gone after the request.
source "$(dirname "$0")/lib.sh"
work=$STATE/work-large
rm -rf "$work"; mkdir -p "$work/kept"
head -c $((100 << 20)) /dev/urandom >"$work/big.bin"
start=$(date +%s.%N)
answer=$(fetch -F note=large -F "file=@$work/big.bin" "$BASE/keep.asp?to=$(windows_path "$work/kept")")
end=$(date +%s.%N)
expect_eq "status" 200 "$(status_of "$answer")"
expect_has "size" "$answer" "file|file|big.bin|104857600|"
expect_has "field beside it" "$answer" "field|note|large"
if cmp -s "$work/big.bin" "$work/kept/1.bin"; then pass; else fail "stored bytes differ from the upload"; fi
expect_no_temp "after the large upload"
echo "100 MiB upload answered in $(awk -v a="$end" -v b="$start" 'BEGIN { printf "%.2f", a - b }') s"
rm -rf "$work"
finish
