# Shared by the end-to-end test scripts (sourced): where the page host is,
# checks that count failures, and the closing summary line.
set -uo pipefail
STATE=${1:?usage: test STATE_DIR}
PORT=$(tr -dc 0-9 <"$STATE/port")
BASE=http://127.0.0.1:$PORT
HOST_TMP=$STATE/tmp
passed=0 failed=0

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"


# The component as this tree built it, registered afresh (see pagehost-fixture).
if [ -s "$STATE/dll" ] &&
   ! env LC_ALL=en_US.UTF-8 "$(cat "$STATE/wine-run")" regsvr32 /s "$(windows_path "$(cat "$STATE/dll")")" \
     </dev/null >"$STATE/register.log" 2>&1; then
  echo "cannot register the component:"; cat "$STATE/register.log"; exit 1
fi

pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() { if [ "$2" == "$3" ]; then pass; else fail "$1: expected [$2], got [$3]"; fi; }
# expect_has WHAT TEXT NEEDLE
expect_has() { if grep -qF -- "$3" <<<"$2"; then pass; else fail "$1: [$3] not in: $(head -c 600 <<<"$2")"; fi; }
expect_lacks() { if grep -qF -- "$3" <<<"$2"; then fail "$1: [$3] should not be in the answer"; else pass; fi; }
# The component's temporary directory holds nothing between requests.
expect_no_temp() { local left; left=$(ls -A "$HOST_TMP"); if [ -z "$left" ]; then pass; else fail "$1: temporary files left: $left"; fi; }

# curl with bounds; -w appends the status code on a last line of its own.
fetch() { curl -sS --max-time 120 -w '\n%{http_code}' "$@"; }
status_of() { tail -n 1 <<<"$1"; }

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
