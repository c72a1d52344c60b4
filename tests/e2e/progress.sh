#!/usr/bin/env bash
# The sample site's progress pages with curl: the form's URL carries a new
# progress ID, progress.asp answers JSON for good and bad IDs, upload.asp
# uploads with a malformed ID all the same, and without the progress class
# the form posts to plain upload.asp.
source "$(dirname "$0")/lib.sh"
work=$STATE/work-progress
rm -rf "$work"; mkdir -p "$work"
printf 'progress test file\n' >"$work/a.txt"

form_action() { fetch "$BASE/" | grep -o '<form id="upload" action="[^"]*"' | sed 's/.*action="//; s/"$//'; }
action=$(form_action)
id=${action#/upload.asp?progress=}
[[ $action =~ ^/upload\.asp\?progress=[A-Za-z0-9_-]{32}$ ]] && pass || fail "form action with a progress ID: [$action]"
expect_has "index loads the progress script" "$(fetch "$BASE/")" '<script src="/progress.js" defer>'

# progress.asp: query | status | answer (the whole body)
valid=$id
while IFS='|' read -r query status body; do
  answer=$(fetch -D - "$BASE/progress.asp$query")
  expect_eq "progress.asp$query: status" "$status" "$(status_of "$answer")"
  expect_eq "progress.asp$query: answer" "$body" "$(sed -n '$!p' <<<"$answer" | tr -d '\r' | sed '1,/^$/d')"
  expect_has "progress.asp$query: JSON" "$answer" "Content-Type: application/json"
  # The page's own header stands in for the one the page host puts on
  # every answer: one line, no-store.
  expect_eq "progress.asp$query: not cached, said once" "1 1" \
    "$(grep -ci '^Cache-Control:' <<<"$answer") $(grep -c '^Cache-Control: no-store' <<<"$answer")"
done <<EOF
?id=$valid|200|{"state":"unknown","bytesReceived":0,"totalBytes":0,"filesStored":0,"percentComplete":0,"elapsedMs":0,"fileName":"","errorNumber":0,"errorDescription":""}
|400|{"error":"no progress id"}
?id=|400|{"error":"no progress id"}
?id=0123456789abcde|400|{"error":"invalid progress id"}
?id=$(printf 'a%.0s' {1..65})|400|{"error":"invalid progress id"}
?id=Global%5C0123456789abcdef|400|{"error":"invalid progress id"}
?id=0123456789abcdef%000123|400|{"error":"invalid progress id"}
?id=$valid&id=$valid|400|{"error":"invalid progress id"}
EOF

# upload.asp: a malformed ID costs only the progress; a good one is gone with the page.
for query in "?progress=bad%20id" "?progress=$valid"; do
  answer=$(fetch -F "single=@$work/a.txt" "$BASE/upload.asp$query")
  expect_has "upload.asp$query: uploaded" "$answer" '<span id="file-count">1</span>'
  expect_has "upload.asp$query: size" "$answer" '<td class="size">19</td>'
done
expect_has "the record goes with the page" "$(fetch "$BASE/progress.asp?id=$valid")" '"state":"unknown"'
expect_no_temp "progress uploads"

# Without the progress class the form posts to upload.asp as before. Its
# ProgID is taken out of both registry views (Wine looks in the other view
# for a missing one) and put back as it was.
wine_run=$(cat "$STATE/wine-run")
progid='HKCR\Tandervale.QORUploadProgress'
registry() { "$wine_run" reg "$@" </dev/null >/dev/null 2>&1; }
saved=()
for view in 64 32; do
  file=$(windows_path "$work/progid-$view.reg")
  registry query "$progid" /reg:$view && registry export "$progid" "$file" /y /reg:$view &&
    registry delete "$progid" /f /reg:$view && saved+=("$view")
done
expect_eq "no class: plain form" "/upload.asp" "$(form_action)"
expect_lacks "no class: no script" "$(fetch "$BASE/")" "progress.js"
answer=$(fetch "$BASE/progress.asp?id=$valid")
expect_eq "no class: progress.asp status" 500 "$(status_of "$answer")"
expect_has "no class: progress.asp says so" "$answer" '{"error":"progress is not available"}'
answer=$(fetch -F "single=@$work/a.txt" "$BASE/$(form_action)")
expect_has "no class: uploaded" "$answer" '<span id="file-count">1</span>'
for view in "${saved[@]}"; do
  registry import "$(windows_path "$work/progid-$view.reg")" /reg:$view || fail "cannot restore the ProgID ($view-bit view)"
done
expect_has "the class back" "$(form_action)" "/upload.asp?progress="

rm -rf "$work"
finish
