# Running the Windows build under Wine; sourced by scripts/test-windows (after
# scripts/lib/windows-build.sh) and by tests/e2e/common.sh.

# winpath PATH: the Windows name of an absolute Linux path (Z: is Wine's drive for /).
winpath() {
    local p=${1//\//\\}
    echo "Z:$p"
}

# wine_prefix PREFIX: a Wine prefix (made on first use) with nothing pointing outside it:
# no WINEPATH and no QT_PLUGIN_PATH, so a program finds only what lies beside it and what
# Windows itself has. Sets WINE and WINESERVER.
wine_prefix() {
    local prefix=$1
    export WINE WINESERVER
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
    unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
    if [[ ! -f "$prefix/system.reg" ]]; then
        mkdir -p "$prefix"
        "$WINE" wineboot -i >/dev/null 2>&1
        "$WINESERVER" -w
    fi
}

# wine_setup PREFIX QT: a Wine prefix as above, in which the build tree's executables find
# Qt's DLLs and plugins in the kit QT and the MinGW runtime DLLs where the compiler keeps them.
wine_setup() {
    local prefix=$1 qt=$2 dir
    wine_prefix "$prefix"
    WINEPATH=$(winpath "$qt/bin")
    while read -r dir; do
        WINEPATH+=";$(winpath "$dir")"
    done < <(mingw_runtime_dirs)
    export WINEPATH
    export QT_PLUGIN_PATH=$(winpath "$qt/plugins")
}

# wine_stop: ends what Wine still runs in the prefix.
wine_stop() {
    "$WINESERVER" -k 2>/dev/null || true
}
