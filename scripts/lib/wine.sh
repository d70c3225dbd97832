# Running the Windows build under Wine; sourced by scripts/test-windows.

# winpath PATH: the Windows name of an absolute Linux path (Z: is Wine's drive for /).
winpath() {
    local p=${1//\//\\}
    echo "Z:$p"
}

# wine_setup PREFIX QT: a Wine prefix (made on first use) and the environment in which the
# Windows executables find Qt's DLLs and plugins and the MinGW runtime DLLs. Sets WINE.
wine_setup() {
    local prefix=$1 qt=$2 gxx=x86_64-w64-mingw32-g++-posix runtime threads
    export WINE WINESERVER
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    runtime=$(dirname "$("$gxx" -print-file-name=libstdc++-6.dll)")
    threads=$(dirname "$("$gxx" -print-file-name=libwinpthread-1.dll)")
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
    export WINEPATH="$(winpath "$qt/bin");$(winpath "$runtime");$(winpath "$threads")"
    export QT_PLUGIN_PATH=$(winpath "$qt/plugins")
    unset QT_QPA_PLATFORM
    if [[ ! -f "$prefix/system.reg" ]]; then
        mkdir -p "$prefix"
        "$WINE" wineboot -i >/dev/null 2>&1
        "$WINESERVER" -w
    fi
}

# wine_stop: ends what Wine still runs in the prefix.
wine_stop() {
    "$WINESERVER" -k 2>/dev/null || true
}
