#!/usr/bin/env bash
# Runs streaming.py against the fixture's page host (registering the
# component first, as every end-to-end test does).
#   streaming.sh STATE READ_TIMEOUT_SECONDS
source "$(dirname "$0")/lib.sh"
exec python3 "$(dirname "$0")/streaming.py" "$STATE" "$2"
