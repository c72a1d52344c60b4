#!/usr/bin/env bash
# Eight clients upload at once, one of them slowly (throttled to about
# 100 KiB/s): every answer must be right, and the seven quick ones must be
# answered while the slow one is still sending.
source "$(dirname "$0")/lib.sh"
work=$STATE/work-concurrency
rm -rf "$work"; mkdir -p "$work"

upload() {  # upload N [curl options]: client N posts its own file; answer and end time in $work
  local n=$1; shift
  mkdir -p "$work/kept$n"
  curl -sS --max-time 60 -w '\n%{http_code}' "$@" -F "client=$n" -F "file=@$work/in$n.bin" \
    "$BASE/keep.asp?to=$(windows_path "$work/kept$n")" >"$work/answer$n" 2>&1
  date +%s.%N >"$work/done$n"
}

# The slow client sends 400 KB (about 4 s); the quick ones 200 KB each.
head -c 400000 /dev/urandom >"$work/in1.bin"
for n in 2 3 4 5 6 7 8; do head -c $((200000 + n * 1000)) /dev/urandom >"$work/in$n.bin"; done
start=$(date +%s.%N)
upload 1 --limit-rate 100k &
sleep 0.5
for n in 2 3 4 5 6 7 8; do upload "$n" & done
wait

for n in 1 2 3 4 5 6 7 8; do
  answer=$(cat "$work/answer$n")
  expect_eq "client $n status" 200 "$(tail -n 1 <<<"$answer")"
  expect_has "client $n field" "$answer" "field|client|$n"
  expect_has "client $n size" "$answer" "file|file|in$n.bin|$(stat -c %s "$work/in$n.bin")|"
  if cmp -s "$work/in$n.bin" "$work/kept$n/1.bin"; then pass; else fail "client $n: stored bytes differ"; fi
done
slow_end=$(cat "$work/done1")
for n in 2 3 4 5 6 7 8; do
  if awk -v a="$(cat "$work/done$n")" -v b="$slow_end" 'BEGIN { exit !(a < b) }'; then pass; else fail "client $n waited for the slow upload"; fi
done
slow=$(awk -v a="$slow_end" -v b="$start" 'BEGIN { printf "%.2f", a - b }')
if awk -v s="$slow" 'BEGIN { exit !(s > 3) }'; then pass; else fail "the slow client was not slow ($slow s)"; fi
echo "slow client took $slow s; the others finished before it"
expect_no_temp "after the concurrent uploads"
rm -rf "$work"
finish
