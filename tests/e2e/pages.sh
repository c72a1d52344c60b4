#!/usr/bin/env bash
# The page host on its own: static files, .asp pages with Request, Response and
# Server, script errors, and the answers to requests it refuses.
source "$(dirname "$0")/lib.sh"

# Static files carry their type; the index page is the default document.
answer=$(fetch -D - "$BASE/style.css")
expect_eq "style.css status" 200 "$(status_of "$answer")"
expect_has "style.css type" "$answer" "Content-Type: text/css"
answer=$(fetch "$BASE/")
expect_eq "index status" 200 "$(status_of "$answer")"
expect_has "index form" "$answer" '<form id="upload" action="/upload.asp'
expect_has "index runs script" "$answer" "Served by QORUpload-PageHost"

# Server variables, query string, encoders, MapPath on a GET ...
answer=$(fetch -H 'X-Probe: probe value' "$BASE/basics.asp?a=x+y%26z&b=2&a=again")
expect_eq "basics status" 200 "$(status_of "$answer")"
expect_has "method" "$answer" "REQUEST_METHOD=GET"
expect_has "raw query" "$answer" "QUERY_STRING=a=x+y%26z&b=2&a=again"
expect_has "no content type" "$answer" $'CONTENT_TYPE=\n'
expect_has "no body length" "$answer" "CONTENT_LENGTH=0"
expect_has "script name" "$answer" "SCRIPT_NAME=/basics.asp"
expect_has "port" "$answer" "SERVER_PORT=$PORT"
expect_has "remote" "$answer" "REMOTE_ADDR=127.0.0.1"
expect_has "header variable" "$answer" "HTTP_X_PROBE=probe value"
expect_has "repeated query name joined" "$answer" "query.a=x y&z, again"
expect_has "query count" "$answer" "query.count=3"
expect_has "Request.Item" "$answer" "request.a=x y&z, again"
expect_has "HTMLEncode" "$answer" "html=&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;"
expect_has "URLEncode" "$answer" "url=a+b%26c%2Fd"
expect_has "MapPath" "$answer" "map=$(windows_path "$STATE/site")\\sub\\file.txt"
expect_has "page ran to its end" "$answer" "done"
# Without a CodePage directive the page's bytes are ANSI text and go out as they came.
expect_has "no directive: bytes unchanged" "$answer" "ansi=é 2 codepage=1252 charset=[]"
content_type() { curl -sS --max-time 120 -o /dev/null -D - "$1" | tr -d '\r' | grep -i '^Content-Type:'; }
expect_eq "no charset" "Content-Type: text/plain" "$(content_type "$BASE/basics.asp")"

# A page saved as UTF-8 says so in its directive: its text and script are read
# as UTF-8 and written in it, until Response.CodePage changes the writes after
# it. Charset set twice, then ContentType: one charset parameter all the same.
hex() { od -An -tx1 -v | tr -d ' \n'; }
expect_eq "UTF-8 page bytes" \
  "$(printf 'literal=\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac\nexpression=caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac 2\ncodepage=65001 charset=utf-8\nafter=caf\xe9\n' | hex)" \
  "$(curl -sS --max-time 120 "$BASE/utf8.asp" | hex)"
expect_eq "UTF-8 page type" "Content-Type: text/plain; charset=utf-8" "$(content_type "$BASE/utf8.asp")"
answer=$(fetch "$BASE/bad-codepage.asp")
expect_eq "unknown code page status" 500 "$(status_of "$answer")"
expect_has "unknown code page explained" "$answer" "CodePage=12345 is not a code page"
expect_has "unknown code page line" "$answer" "/bad-codepage.asp, line 1"

# ... and on a POST: the body comes back through BinaryRead byte for byte.
body=$'line one\r\nbytes \x01\x7f\xc3\xa9 end'
answer=$(fetch -H 'Content-Type: application/octet-stream' --data-binary "$body" "$BASE/basics.asp")
expect_has "post method" "$answer" "REQUEST_METHOD=POST"
expect_has "post type" "$answer" "CONTENT_TYPE=application/octet-stream"
expect_has "post length" "$answer" "CONTENT_LENGTH=$(printf '%s' "$body" | wc -c)"
expect_has "BinaryRead count" "$answer" "read=$(printf '%s' "$body" | wc -c)"
expect_has "BinaryRead bytes" "$answer" "body=$body"

# A script error: 500 with description, source and the page's own line, and
# nothing of the half-built page.
answer=$(fetch "$BASE/error.asp")
expect_eq "error status" 500 "$(status_of "$answer")"
expect_has "error description" "$answer" "Division by zero"
expect_has "error source" "$answer" "VBScript runtime error"
expect_has "error line" "$answer" "/error.asp, line 6"
expect_lacks "no partial page" "$answer" "before the error"
expect_has "error logged" "$(cat "$STATE/host.log")" "script error in /error.asp, line 6"

answer=$(fetch "$BASE/objects.asp?do=unknown")
expect_eq "unknown ProgID status" 500 "$(status_of "$answer")"
expect_has "unknown ProgID explained" "$answer" "invalid class string &quot;No.Such.Thing&quot;"
expect_has "unknown ProgID line" "$answer" "/objects.asp, line 5"

# Response.End, Redirect, Status and AddHeader.
answer=$(fetch "$BASE/end.asp")
expect_eq "End output" "before end" "$(head -n 1 <<<"$answer")"
answer=$(fetch -D - "$BASE/end.asp?do=redirect")
expect_eq "redirect status" 302 "$(status_of "$answer")"
expect_has "redirect location" "$answer" "Location: /basics.asp?a=moved"
expect_lacks "redirect stops the page" "$answer" "not reached"
answer=$(fetch -D - "$BASE/end.asp?do=status")
expect_has "custom status" "$answer" "HTTP/1.1 404 Nothing Here"
expect_has "custom header" "$answer" "X-Probe: yes"
answer=$(fetch "$BASE/end.asp?do=bad-status")
expect_eq "invalid status is a script error" 500 "$(status_of "$answer")"
expect_has "invalid status explained" "$answer" "three-digit code"

# Refusals: unknown page, a path out of the site, a body without a length,
# a body over the limit (refused before it is sent), a malformed request.
expect_eq "missing page" 404 "$(status_of "$(fetch "$BASE/nothing.asp")")"
expect_eq "escape from site" 400 "$(status_of "$(fetch --path-as-is "$BASE/../../etc/passwd")")"
expect_eq "encoded escape" 400 "$(status_of "$(fetch --path-as-is "$BASE/%2e%2e/secret")")"
expect_eq "chunked body" 411 "$(status_of "$(fetch -H 'Transfer-Encoding: chunked' --data-binary abc "$BASE/basics.asp")")"
raw() { exec 3<>"/dev/tcp/127.0.0.1/$PORT"; printf '%b' "$1" >&3; timeout 10 cat <&3; exec 3<&-; }
answer=$(raw 'POST /basics.asp HTTP/1.1\r\nHost: x\r\n\r\n')
expect_has "no length" "$answer" "HTTP/1.1 411"
answer=$(raw 'POST /upload.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 2147483648\r\nExpect: 100-continue\r\n\r\n')
expect_has "over the limit" "$answer" "HTTP/1.1 413"
expect_lacks "no 100 Continue for a refused body" "$answer" "100 Continue"
answer=$(raw 'GARBAGE\r\n\r\n')
expect_has "malformed request" "$answer" "HTTP/1.1 400"
# Over 64 KiB of head, whole (it may arrive in the same read that passes the
# limit) or unfinished.
pad=$(head -c 70000 /dev/zero | tr '\0' a)
answer=$(raw "GET /basics.asp HTTP/1.1\r\nX-Pad: $pad\r\n\r\n")
expect_has "whole head over 64 KiB" "$answer" "HTTP/1.1 431"
answer=$(raw "GET /basics.asp HTTP/1.1\r\nX-Pad: $pad")
expect_has "unfinished head over 64 KiB" "$answer" "HTTP/1.1 431"
expect_eq "static file takes no POST" 405 "$(status_of "$(fetch -d x=1 "$BASE/style.css")")"

finish
