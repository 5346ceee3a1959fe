#!/usr/bin/env bash
# ./build.sh run      installs what is missing, builds and starts Vardolux
# ./build.sh test     installs what is missing, builds and runs the whole test suite
# ./build.sh package  installs what is missing and builds vardolux_VERSION_ARCH.deb here
# One stage of the tests alone: ./build.sh clazy | package-check
# On Debian 12 / Ubuntu; uses apt-get (through sudo when not root) for missing packages.
set -euo pipefail
cd "$(dirname "$0")"

runtime_packages=(cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libpcap-dev
    qt6-httpserver-dev qt6-websockets-dev libqrencode-dev pkg-config fonts-dejavu-core)
package_packages=(cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev libpcap-dev pkg-config
    qt6-httpserver-dev qt6-websockets-dev libqrencode-dev debhelper dpkg-dev)
package_check_packages=("${package_packages[@]}" qt6-qpa-plugins fonts-dejavu-core iproute2
    util-linux lintian appstream desktop-file-utils)
test_packages=("${runtime_packages[@]}" iproute2 util-linux tshark ola curl clang-14 libclang-rt-14-dev
    clazy xvfb xauth chromium zbar-tools "${package_check_packages[@]}")

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
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

# The Art-Net stacks of other makers that tst_networkinterop runs as peers (Node.js packages at
# the versions tests/interop/package-lock.json pins), into DIR/interop of a build tree.
# Node.js comes from Debian unless a node with its own npm is installed already: Debian's npm
# package conflicts with such a node, and asking for it would remove it.
install_interop_peers() { # install_interop_peers DIR
    command -v npm >/dev/null || install_missing nodejs npm
    mkdir -p "$1/interop"
    cp tests/interop/package.json tests/interop/package-lock.json "$1/interop/"
    npm ci --prefix "$1/interop" --no-audit --no-fund --loglevel=error
}

build() { # build DIR [CMAKE OPTION...]
    local dir=$1; shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel "$jobs"
}

# The whole test suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer: any
# report fails the test that made it. Leaks count too, except those listed in
# tests/lsan-suppressions.txt (allocations inside system libraries that Qt never frees).
sanitizer_tests() {
    build build-asan -DVARDOLUX_SANITIZE=ON -DVARDOLUX_FORCE_ASSERTS=ON -DBUILD_TESTING=ON \
        -DVARDOLUX_BENCH=OFF
    install_interop_peers build-asan
    (cd build-asan &&
        QT_QPA_PLATFORM=offscreen \
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LSAN_OPTIONS=suppressions=$PWD/../tests/lsan-suppressions.txt:print_suppressions=0 \
        ctest --output-on-failure --no-tests=error)
}

# The libFuzzer targets (clang only), each run for a bounded time from a copy of its seeds,
# inside a private network namespace; any crash, sanitizer report, leak or hang fails.
fuzz_runs() {
    build build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DVARDOLUX_FUZZ=ON \
        -DVARDOLUX_FORCE_ASSERTS=ON -DBUILD_TESTING=OFF -DVARDOLUX_BENCH=OFF
    fuzz/run-fuzzer build-fuzz fuzz_datagram "${FUZZ_SECONDS:-60}"
    fuzz/run-fuzzer build-fuzz fuzz_recordingfile "${FUZZ_SECONDS:-60}"
    fuzz/run-fuzzer build-fuzz fuzz_sacn "${FUZZ_SECONDS:-60}"
    fuzz/run-fuzzer build-fuzz fuzz_capture "${FUZZ_SECONDS:-60}"
}

# Qt's own static checks (clazy, default level) over the program's code, without tests,
# benchmarks or fuzzers; any warning fails. Answer one that is wrong here with a
# "// clazy:exclude=CHECK" comment giving the reason. Compiled afresh every time: a warning is only
# printed when its file is compiled.
clazy_checks() {
    env -u CLAZY_CHECKS cmake -S . -B build-clazy -DCMAKE_CXX_COMPILER=clazy \
        -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF -DVARDOLUX_BENCH=OFF >/dev/null
    env -u CLAZY_CHECKS cmake --build build-clazy --clean-first --parallel "$jobs" \
        >build-clazy/clazy.log 2>&1 || { cat build-clazy/clazy.log; return 1; }
    if grep -q 'warning:' build-clazy/clazy.log; then
        grep -A3 'warning:' build-clazy/clazy.log
        echo "clazy: warnings in the program's code (full log: build-clazy/clazy.log)" >&2
        return 1
    fi
    echo "clazy: no warnings"
}

package_version() {
    sed -n 's/^project(Vardolux VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt
}

package_file() {
    echo "vardolux_$(package_version)_$(dpkg --print-architecture).deb"
}

# The Debian package, built by debhelper from a copy of the tree in build-deb (dpkg-buildpackage
# writes into debian/ and beside the source), then copied here.
package() {
    local version changelog_version source
    version=$(package_version)
    changelog_version=$(dpkg-parsechangelog -S Version)
    if [ "$changelog_version" != "$version" ]; then
        echo "debian/changelog is at $changelog_version but CMakeLists.txt at $version:" \
            "add a changelog entry (dch -v $version)" >&2
        return 1
    fi
    source=build-deb/vardolux-$version
    rm -rf build-deb
    mkdir -p "$source"
    find . -mindepth 1 -maxdepth 1 ! -name 'build*' ! -name .git ! -name '*.deb' \
        -exec cp -a {} "$source"/ \;
    (cd "$source" && dpkg-buildpackage --build=binary --no-sign --jobs="$jobs") \
        >build-deb/build.log 2>&1 ||
        { tail -n 40 build-deb/build.log; echo "package build failed: build-deb/build.log" >&2; return 1; }
    cp "build-deb/$(package_file)" .
    echo "Built $(package_file)"
}

# Qt aborts with a page about platform plugins when it finds no window system to show the window on.
need_display() {
    [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ] && return 0
    echo "Vardolux needs a desktop session (neither DISPLAY nor WAYLAND_DISPLAY is set);" \
        "without one, run it on a virtual display: xvfb-run ./build.sh run (package xvfb)" >&2
    exit 1
}

case "${1:-}" in
run)
    need_display
    install_missing "${runtime_packages[@]}"
    build build
    exec ./build/app/vardolux
    ;;
test)
    install_missing "${test_packages[@]}"
    build build-tests -DVARDOLUX_FORCE_ASSERTS=ON -DBUILD_TESTING=ON
    install_interop_peers build-tests
    (cd build-tests && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error)
    clazy_checks
    package
    tests/check-package "$(package_file)"
    sanitizer_tests
    fuzz_runs
    ;;
package)
    install_missing "${package_packages[@]}"
    package
    ;;
package-check)
    install_missing "${package_check_packages[@]}"
    package
    tests/check-package "$(package_file)"
    ;;
clazy)
    install_missing cmake make qt6-base-dev qt6-base-dev-tools libgl-dev \
        qt6-httpserver-dev qt6-websockets-dev clazy
    clazy_checks
    ;;
*)
    echo "usage: ./build.sh run | test | package" >&2
    echo "       ./build.sh clazy | package-check   (one stage of the tests)" >&2
    exit 2
    ;;
esac
