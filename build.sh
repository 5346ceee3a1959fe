#!/usr/bin/env bash
# ./build.sh run   installs what is missing, builds and starts Vardolux
# ./build.sh test  installs what is missing, builds and runs the whole test suite
# On Debian 12 / Ubuntu; uses apt-get (through sudo when not root) for missing packages.
set -euo pipefail
cd "$(dirname "$0")"

runtime_packages=(cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core)
test_packages=("${runtime_packages[@]}" iproute2 util-linux tshark)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

build() { # build DIR [CMAKE OPTION...]
    local dir=$1; shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel "$jobs"
}

case "${1:-}" in
run)
    install_missing "${runtime_packages[@]}"
    build build
    exec ./build/app/vardolux
    ;;
test)
    install_missing "${test_packages[@]}"
    build build-tests -DVARDOLUX_FORCE_ASSERTS=ON -DBUILD_TESTING=ON
    (cd build-tests && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error)
    ;;
*)
    echo "usage: ./build.sh run | test" >&2
    exit 2
    ;;
esac
