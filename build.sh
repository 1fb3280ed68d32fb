#!/usr/bin/env bash
# One entry point for newcomers and CI.
#   ./build.sh test   install what is missing, build, run the whole test suite
#   ./build.sh demo   install what is missing, build and run the demo host program
#   ./build.sh bench  build and run the benchmarks (Release)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev openjdk-17-jdk-headless)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    fi
}

configure_and_build() {
    local dir=$1; shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

case "${1:-test}" in
test)
    install_missing "${PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
demo)
    install_missing "${PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    out=build/demo-output
    # The demo's component library is found through the loader's search path.
    LD_LIBRARY_PATH="$PWD/build/examples/components${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
        ./build/bin/krerrlog_demo "$out"
    ;;
bench)
    install_missing "${PACKAGES[@]}"
    [ -x bench/install-comparisons.sh ] && bench/install-comparisons.sh
    configure_and_build build-release -DCMAKE_BUILD_TYPE=Release -DKRERRLOG_BUILD_TESTS=OFF
    for b in build-release/bin/bench_*; do "$b"; done
    ;;
*)
    echo "usage: $0 test|demo|bench" >&2
    exit 2
    ;;
esac
