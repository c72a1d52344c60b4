#!/usr/bin/env bash
# Runs a browser test script (browser.mjs, progress.mjs) against the fixture's page host.
#   browser.sh STATE SCRIPT.mjs SCREENSHOT.png NODE_MODULES_DIR
source "$(dirname "$0")/lib.sh"
script=$2 name=$(basename "$2" .mjs)
QOR_NODE_MODULES=$4 exec node "$script" "$BASE" "$STATE/work-$name" "$3" "$HOST_TMP" "$STATE/uploads"
