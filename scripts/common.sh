# Shared settings for the project's scripts (sourced, not run).
QOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QOR_BUILD=${QOR_BUILD:-$QOR_ROOT/build}
QOR_WIN_BUILD=$QOR_BUILD/windows
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# The 32-bit Wine (wine32:i386) runs 32-bit programs in the same prefix. Its
# loader is a 32-bit Linux program: installed is not enough, the kernel must run
# it too (a kernel without 32-bit emulation answers "Exec format error"). Where
# it cannot run, scripts/setup tries Wine's WoW64 mode instead (a tree made by
# install-wine-wow64, QOR_WOW64_TREE); QOR_WINE32=wow64 asks for that mode on
# any machine. The file wine32-wow64 says that the tree is in use, and why.
QOR_WOW64_TREE=$QOR_BUILD/wine-wow64
wine32_loader() {
  if [ -f "$QOR_BUILD/wine32-wow64" ]; then echo "$QOR_WOW64_TREE/wine32"; else echo /usr/lib/wine/wine; fi
}
wine32_available() { [ -z "$(wine32_unavailable_reason)" ]; }
wine32_unavailable_reason() {
  if [ -f "$QOR_BUILD/wine32-wow64" ]; then
    [ -x "$QOR_WOW64_TREE/wine32" ] || echo "Wine's WoW64 tree $QOR_WOW64_TREE is missing (run scripts/setup)"
    return
  fi
  local tried=""
  [ ! -s "$QOR_BUILD/wine32-wow64-failed" ] ||
    tried="; Wine's WoW64 mode was tried too: $(tail -1 "$QOR_BUILD/wine32-wow64-failed")"
  if [ -f "$QOR_BUILD/wine32-unavailable" ]; then
    echo "the 32-bit Wine (wine32:i386) could not be installed: $(tail -1 "$QOR_BUILD/wine32-unavailable")$tried"
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "the 32-bit Wine (wine32:i386) is not installed$tried"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this kernel does not run 32-bit programs ($( (/usr/lib/wine/wine --version 2>&1 || true) | tail -1 | sed 's/^.*: //'); 32-bit emulation is off, e.g. booted without ia32_emulation=on)$tried"
  fi
}

# The Windows tree and Wine loader of one architecture: x64 (the default) or x86.
# Sets QOR_ARCH, QOR_ARCH_TREE (its build tree's name) and QOR_ARCH_BUILD (its path), and WINE.
use_arch() {
  QOR_ARCH=$1
  case $QOR_ARCH in
    x64) QOR_ARCH_TREE=windows; WINE=/usr/lib/wine/wine64 ;;
    x86) QOR_ARCH_TREE=windows-x86; WINE=$(wine32_loader) ;;
    *) echo "unknown architecture $QOR_ARCH" >&2; return 2 ;;
  esac
  QOR_ARCH_BUILD=$QOR_BUILD/$QOR_ARCH_TREE
}

# The Windows path under which Wine sees a Linux path (drive Z: is the root).
windows_path() { local p; p=$(realpath -m -- "$1"); printf 'Z:%s' "${p//\//\\}"; }

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
