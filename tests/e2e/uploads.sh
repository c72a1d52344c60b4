#!/usr/bin/env bash
# Uploads with curl through the page host into the component: what the page
# reads back must match what was sent, byte for byte, and no temporary file
# may outlive its request.
source "$(dirname "$0")/lib.sh"
work=$STATE/work-uploads
rm -rf "$work"; mkdir -p "$work"

# field|name|values..., file|field|user path|size|temporary path|existed, whole|text
post_keep() {  # post_keep TAG curl-arguments...: answer of keep.asp, stored files copied to $work/TAG
  local tag=$1; shift
  mkdir -p "$work/$tag"
  fetch "$@" "$BASE/keep.asp?to=$(windows_path "$work/$tag")"
}
line_of() { grep -a "^$2" <<<"$1" | head -n 1; }

# Several files under several fields, text fields, a repeated field.
printf 'plain text file\nsecond line\n' >"$work/a.txt"
for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done >"$work/bytes.bin"
for _ in 1 2 3 4; do cat "$work/bytes.bin"; done >"$work/b.bin"   # all 256 byte values, 1 KiB
head -c 70000 /dev/urandom >"$work/c.bin"                        # spans many read buffers
answer=$(post_keep several -F title=Hello -F tags=news -F tags=photo \
  -F "single=@$work/a.txt" -F "many=@$work/b.bin" -F "many=@$work/c.bin;type=application/x-test")
expect_eq "several: status" 200 "$(status_of "$answer")"
expect_eq "several: title" "field|title|Hello" "$(line_of "$answer" "field|title|")"
expect_eq "several: checkboxes" "field|tags|news|photo" "$(line_of "$answer" "field|tags|")"
files=$(grep -a '^file|' <<<"$answer")
expect_eq "several: three files" 3 "$(grep -c . <<<"$files")"
n=0
for spec in "single a.txt" "many b.bin" "many c.bin"; do
  set -- $spec; n=$((n + 1))
  line=$(sed -n "${n}p" <<<"$files")
  IFS='|' read -r _ field user size tmp existed <<<"$line"
  expect_eq "file $n field" "$1" "$field"
  expect_eq "file $n user path" "$2" "$user"
  expect_eq "file $n size" "$(stat -c %s "$work/$2")" "$size"
  expect_eq "file $n stored during the page" True "$existed"
  expect_has "file $n stored in the host's TMP" "${tmp,,}" "$(windows_path "$HOST_TMP" | tr 'A-Z' 'a-z')"
  if cmp -s "$work/$2" "$work/several/$n.bin"; then pass; else fail "file $n: stored bytes differ from the upload"; fi
done
expect_has "several: whole form" "$(line_of "$answer" "whole|")" "title=Hello"
expect_no_temp "several"

# An empty file input, as a browser sends it: a part with filename="" and no
# data. It stores no file and must not break the fields around it.
boundary=----e2eBoundary7MA4YWxk
printf -- '--%s\r\nContent-Disposition: form-data; name="before"\r\n\r\n1\r\n--%s\r\nContent-Disposition: form-data; name="single"; filename=""\r\nContent-Type: application/octet-stream\r\n\r\n\r\n--%s\r\nContent-Disposition: form-data; name="after"\r\n\r\n2\r\n--%s--\r\n' \
  "$boundary" "$boundary" "$boundary" "$boundary" >"$work/empty-input.body"
answer=$(post_keep empty -H "Content-Type: multipart/form-data; boundary=$boundary" --data-binary "@$work/empty-input.body")
expect_eq "empty input: status" 200 "$(status_of "$answer")"
expect_eq "empty input: field before" "field|before|1" "$(line_of "$answer" "field|before|")"
expect_eq "empty input: field after" "field|after|2" "$(line_of "$answer" "field|after|")"
expect_eq "empty input: no stored file" "" "$(ls -A "$work/empty")"
expect_lacks "empty input: no file reported as stored" "$answer" "|True"
expect_no_temp "empty input"

# An empty file that was chosen: reported with size 0.
: >"$work/zero.txt"
answer=$(post_keep zero -F "single=@$work/zero.txt")
expect_has "zero-length file: reported" "$(line_of "$answer" "file|")" "file|single|zero.txt|0|"
expect_no_temp "zero-length file"

# Non-ASCII field names, values and file names come back as the same UTF-8
# bytes (the browser's bytes pass through the component and the page).
printf 'Grüße\n' >"$work/u.txt"
answer=$(post_keep unicode -F "grüße=Ça va? 日本" -F "many=@$work/u.txt;filename=résumé Á ✓.txt")
expect_eq "non-ASCII: field" "field|grüße|Ça va? 日本" "$(line_of "$answer" "field|grüße")"
expect_has "non-ASCII: file name" "$(line_of "$answer" "file|")" "file|many|résumé Á ✓.txt|$(stat -c %s "$work/u.txt")|"
if cmp -s "$work/u.txt" "$work/unicode/1.bin"; then pass; else fail "non-ASCII: stored bytes differ"; fi
expect_no_temp "non-ASCII"

# The sample result page escapes what it echoes and reads the file back itself.
printf '<b>bold</b> & more' >"$work/markup.txt"
answer=$(fetch --form-string 'title=<script>alert(1)</script>' -F "single=@$work/markup.txt;filename=<x>.txt" "$BASE/upload.asp")
expect_eq "sample page: status" 200 "$(status_of "$answer")"
expect_has "sample page: escaped value" "$answer" "&lt;script&gt;alert(1)&lt;/script&gt;"
expect_lacks "sample page: no raw markup from the request" "$answer" "<script>"
expect_has "sample page: escaped user path" "$answer" '<td class="userpath">&lt;x&gt;.txt</td>'
expect_has "sample page: size" "$answer" "<td class=\"size\">$(stat -c %s "$work/markup.txt")</td>"
expect_has "sample page: content read back" "$answer" "&lt;b&gt;bold&lt;/b&gt; &amp; more"
expect_has "sample page: first bytes" "$answer" "3C 62 3E 62 6F 6C 64 3C 2F 62 3E 20 26 20 6D 6F"
expect_no_temp "sample page"

# The component's own error information reaches the user through the host.
answer=$(fetch -F a=1 "$BASE/objects.asp?do=nostart")
expect_eq "component error: status" 500 "$(status_of "$answer")"
expect_has "component error: description" "$answer" "Function OnStartPage call missed"
expect_has "component error: source" "$answer" "Tandervale.QORUpload"
expect_has "component error: line" "$answer" "/objects.asp, line 9"
expect_no_temp "component error"

# The sample page keeps its limits and says so kindly: eleven files are one
# more than it takes.
files=(); for i in $(seq 11); do files+=(-F "many=@$work/a.txt"); done
answer=$(fetch "${files[@]}" "$BASE/upload.asp")
expect_eq "sample page, too many files: status" 200 "$(status_of "$answer")"
expect_has "sample page, too many files: message" "$answer" "Please send at most 10 files at a time. Nothing was kept."
expect_lacks "sample page, too many files: no results" "$answer" 'id="files"'
expect_no_temp "sample page, too many files"

# The second layer through a test page (limits.asp), on a URL-encoded and a
# multipart body: code pages, each limit at its value and one past it, each
# row read at once and in chunks of 1, 7 and 4096 bytes with the same answer.
# A failing call keeps nothing: no field, no file, no temporary file even
# while the page still runs ("temp|" counts them right after the call).
crlf() { printf '%s\r\n' "$@"; }
printf 'caf%%C3%%A9=%%E6%%97%%A5%%E6%%9C%%AC%%E8%%AA%%9E&n=1&n=2' >"$work/url.body"
b=e2eSecondLayer
crlf "--$b" 'Content-Disposition: form-data; name="café"' '' '日本語' \
  "--$b" 'Content-Disposition: form-data; name="n"' '' 1 \
  "--$b" 'Content-Disposition: form-data; name="f"; filename="résumé 日本.txt"' 'Content-Type: text/plain; charset=utf-8' '' hello \
  "--$b" 'Content-Disposition: form-data; name="f"; filename="C:\dir\b.bin"' 'Content-Type:  application/octet-stream ' '' abc \
  "--$b--" >"$work/mp.body"
ulen=$(stat -c %s "$work/url.body") mlen=$(stat -c %s "$work/mp.body")
declare -A read_back=(
  [url]=$'temp|0\nfield|café|日本語\nfield|n|1|2'
  [mp]=$'temp|2\nfield|café|日本語\nfield|n|1\nfield|f|résumé 日本.txt|C:\\dir\\b.bin
file|f|résumé 日本.txt|text/plain; charset=utf-8|5|résumé 日本.txt\nfile|f|b.bin|application/octet-stream|3|C:\\dir\\b.bin')
# ask BODY QUERY: sets $answer to what limits.asp printed for that body.
ask() {
  local type=application/x-www-form-urlencoded
  [ "$1" = mp ] && type="multipart/form-data; boundary=$b"
  answer=$(fetch -H "Content-Type: $type" --data-binary "@$work/$1.body" "$BASE/limits.asp?tmp=$(windows_path "$HOST_TMP")&$2")
  expect_eq "$1 $2: status" 200 "$(status_of "$answer")"
  answer=$(sed '$d' <<<"$answer")
}
# expected BODY CODEPAGE CODE DESCRIPTION: what the page prints. Code pages
# 0 and 1252 read the UTF-8 bytes as Windows-1252 characters, which the UTF-8
# page writes out as such.
expected() {
  if [ "$3" != 0 ]; then printf 'codepage|%s\nresult|%s|%s\ntemp|0' "$2" "$3" "$4"; return; fi
  local text=$'codepage|'$2$'\nresult|0|\n'${read_back[$1]}
  if [ "$2" = 65001 ]; then printf '%s' "$text"; else iconv -f cp1252 -t utf-8 <<<"$text" | head -c -1; fi
}
u=codepage=65001
rows=(  # body|query|CodePage in force|result code|description
  "url||0|0|" "url|codepage=0|0|0|" "url|codepage=1252|1252|0|" "url|$u|65001|0|"
  "mp||0|0|" "mp|codepage=0|0|0|" "mp|codepage=1252|1252|0|" "mp|$u|65001|0|"
  "url|$u&total=$ulen|65001|0|"
  "url|$u&total=$((ulen - 1))|65001|80040201|The request body of $ulen bytes is larger than MaxTotalBytes ($((ulen - 1)))"
  "mp|$u&total=$mlen|65001|0|"
  "mp|$u&total=$((mlen - 1))|65001|80040201|The request body of $mlen bytes is larger than MaxTotalBytes ($((mlen - 1)))"
  "url|$u&parts=3|65001|0|" "url|$u&parts=2|65001|80040204|The request holds more values than MaxParts (2)"
  "mp|$u&parts=4|65001|0|" "mp|$u&parts=3|65001|80040204|The request holds more values than MaxParts (3)"
  "mp|$u&files=2|65001|0|" "mp|$u&files=1|65001|80040203|The request holds more files than MaxFiles (1)"
  "mp|$u&file=5|65001|0|" "mp|$u&file=4|65001|80040202|An uploaded file is larger than MaxFileBytes (4)"
  "url|$u&files=1&file=1|65001|0|"  # values are no files
)
for row in "${rows[@]}"; do
  IFS='|' read -r body query codepage code description <<<"$row"
  want=$(expected "$body" "$codepage" "$code" "$description")
  for chunk in 0 1 7 4096; do
    ask "$body" "$query&chunk=$chunk"
    expect_eq "$body $query&chunk=$chunk" "$want" "$answer"
    expect_no_temp "$body $query&chunk=$chunk"
  done
done
# A code page the system lacks is refused and leaves the setting at 0.
for body in url mp; do
  ask $body codepage=12345
  expect_eq "$body: unknown code page" "refused|CodePage|80070057|CodePage 12345 is not a code page installed on this system
$(expected $body 0 0)" "$answer"
done

rm -rf "$work"
finish
