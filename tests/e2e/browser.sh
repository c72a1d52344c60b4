#!/usr/bin/env bash
# Runs browser.mjs against the fixture's page host.
#   browser.sh STATE SCREENSHOT.png NODE_MODULES_DIR
source "$(dirname "$0")/lib.sh"
QOR_NODE_MODULES=$3 exec node "$(dirname "$0")/browser.mjs" "$BASE" "$STATE/work-browser" "$2" "$HOST_TMP" "$STATE/uploads"
