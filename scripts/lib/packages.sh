# The Debian packages the Linux build and its tests need, and a way to install those missing.
# Sourced by scripts/setup and scripts/test-windows.

linux_packages=(cmake g++ ninja-build qt6-base-dev libqt6sql6-sqlite libqt6sql6-odbc unixodbc
                unixodbc-dev tdsodbc sqlite3 xvfb xauth xdotool imagemagick faketime fonts-dejavu-core
                python3 procps xclip clang libclang-rt-14-dev
                libreoffice-calc-nogui) # e2e_list_in_calc opens the run's list in Calc

# install_missing PACKAGE...: installs with apt-get (as root) those not installed yet.
install_missing() {
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "setup: installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}
