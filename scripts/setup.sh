# Shared by run.sh and test.sh: installs what building vcardsplit needs, where it is missing,
# and builds it. Meant to be sourced.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 package names.
packages=(cmake g++ make qt6-base-dev)

install_missing() {
    local missing=() package
    for package in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    ((${#missing[@]})) || return 0

    if ! command -v apt-get >/dev/null 2>&1; then
        echo "vcardsplit needs CMake 3.25 or later, a C++17 compiler and Qt 6 Core." >&2
        echo "This system has no apt-get: install them by hand (Debian names: ${missing[*]})." >&2
        exit 1
    fi
    local sudo=()
    if [ "$(id -u)" != 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Missing packages: ${missing[*]}" >&2
            echo "Run as root: apt-get install ${missing[*]}" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    echo "Installing ${missing[*]}..."
    export DEBIAN_FRONTEND=noninteractive
    # A fresh machine may have no package lists yet.
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" ||
        { "${sudo[@]}" apt-get update && "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# build DIR [cmake configure options...]
build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc 2>/dev/null || echo 2)"
}
