# Sourced by the Windows scripts: wine64 without its own chatter and without offering to download
# Mono or Gecko into a new prefix, and host paths as a Windows program sees them (drive Z:).
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY

winepath_of() {
    printf 'Z:%s' "$1" | tr / '\\'
}
