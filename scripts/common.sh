# Shared settings for the project's scripts (sourced, not run).
QOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QOR_BUILD=${QOR_BUILD:-$QOR_ROOT/build}
QOR_WIN_BUILD=$QOR_BUILD/windows
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# Every Wine command of this project runs with the Windows tree's private prefix.
wine_env() {
  export WINEPREFIX=$QOR_WIN_BUILD/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# A persistent, booted wineserver keeps Wine's helper processes off the test
# programs' output pipes (otherwise each test waits for them to exit).
wine_start() {
  wine_env
  "$WINESERVER" -p 60 </dev/null >/dev/null 2>&1
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}

wine_stop() {
  wine_env
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}
