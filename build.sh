#!/usr/bin/env bash
# ./build.sh run   installs what is missing, builds and starts Vardolux
# ./build.sh test  installs what is missing, builds and runs the whole test suite
# On Debian 12 / Ubuntu; uses apt-get (through sudo when not root) for missing packages.
set -euo pipefail
cd "$(dirname "$0")"

runtime_packages=(cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core)
test_packages=("${runtime_packages[@]}" iproute2 util-linux tshark clang-14 libclang-rt-14-dev xvfb xauth)

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
    sanitizer_tests
    fuzz_runs
    ;;
*)
    echo "usage: ./build.sh run | test" >&2
    exit 2
    ;;
esac
