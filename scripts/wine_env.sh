# Sourced by the scripts that run the Windows build under Wine: a private 64-bit prefix in
# build/wine, made once, and a persistent wineserver for the caller's lifetime (without it every
# Windows program waits about 3 s for Wine's helpers to let go of its output pipe).
#   wine_start    makes the prefix when missing and starts the server (stopped again on EXIT)
#   wine_run      runs a Windows program: wine_run <program.exe> [args...]

wine_root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$wine_root_dir/build/wine}"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wine_loader=/usr/lib/wine/wine64
[ -x "$wine_loader" ] || wine_loader="$(command -v wine64 || command -v wine)"
wine_server="$(command -v wineserver || echo /usr/lib/wine/wineserver64)"
export WINE_LOADER="$wine_loader"

wine_stop() {
    "$wine_server" -k 2>/dev/null || true
}

wine_start() {
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: making the prefix $WINEPREFIX"
        "$wine_loader" wineboot -i >/dev/null 2>&1
        "$wine_loader" winecfg -v win10 >/dev/null 2>&1
    fi
    # A server left persistent by a run that was killed would keep the old state: end it first.
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -p
    "$wine_loader" wineboot >/dev/null 2>&1
    trap wine_stop EXIT
}

wine_run() {
    "$wine_loader" "$@"
}
