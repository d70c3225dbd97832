# The Windows cross-build; sourced by scripts/test-windows and scripts/package-windows.

# windows_build KIT [TARGET...]: unpacks Qt for Windows from the archive KIT into
# build-windows/qt6-win and cross-builds the project in Release into build-windows/build
# (only TARGETs when given). Sets WIN_TOP, WIN_QT and WIN_BUILD. Run from the clone's top.
windows_build() {
    local kit=$1 kit_id werror=OFF targets=()
    shift
    (($#)) && targets=(--target "$@")
    WIN_TOP=$PWD/build-windows
    WIN_QT=$WIN_TOP/qt6-win
    WIN_BUILD=$WIN_TOP/build
    # Unpacked again only when the archive changes: fresh Qt headers would rebuild everything.
    kit_id="$(realpath "$kit") $(stat -c '%s %Y' "$kit")"
    if [[ "$(cat "$WIN_QT/.from" 2>/dev/null)" != "$kit_id" ]]; then
        rm -rf "$WIN_QT"
        mkdir -p "$WIN_TOP"
        tar -xJf "$kit" -C "$WIN_TOP"
        [[ -d "$WIN_QT/bin" ]] || { echo "$kit holds no qt6-win folder" >&2; return 1; }
        echo "$kit_id" >"$WIN_QT/.from"
    fi
    [[ "${CONVERTI_WERROR:-}" == 1 ]] && werror=ON
    # moc, rcc and uic are the build machine's own, from Debian's Qt of the same version.
    cmake -S . -B "$WIN_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/lib/mingw-w64.cmake" \
        -DCMAKE_PREFIX_PATH="$WIN_QT" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_BUILD_TYPE=Release -DCONVERTI_WERROR="$werror" >/dev/null
    # Two jobs: the machine's two cores are shared.
    cmake --build "$WIN_BUILD" -j2 "${targets[@]}"
}

# mingw_runtime_dirs: the folders of the MinGW runtime DLLs (libstdc++, libgcc_s,
# libwinpthread) that the cross compiler links against.
mingw_runtime_dirs() {
    local gxx=x86_64-w64-mingw32-g++-posix
    dirname "$("$gxx" -print-file-name=libstdc++-6.dll)"
    dirname "$("$gxx" -print-file-name=libwinpthread-1.dll)"
}
