#!/usr/bin/env bash
# One entry point for newcomers and CI.
#   ./build.sh test     install what is missing, build, run the whole test suite
#   ./build.sh demo     install what is missing, build only the demo and run it
#   ./build.sh bench    build and run the benchmarks (Release)
#   ./build.sh package  build the Debian packages (prefix /usr) into build-package/packages
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev openjdk-17-jdk-headless)
# The shipping test follows the rolling logs with a real rsyslogd; the package
# test reads the packages with dpkg-deb and works out dependencies with dpkg-shlibdeps.
TEST_PACKAGES=(rsyslog dpkg-dev)

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
        # --no-install-recommends: rsyslog's recommendations (logrotate, ...) are not needed here.
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# ccache, when it is there, makes rebuilds cheap.
LAUNCHER=()
if command -v ccache >/dev/null; then
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

configure() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DKRERRLOG_WERROR=ON "${LAUNCHER[@]}" "$@" >/dev/null
}

case "${1:-test}" in
test)
    install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$(nproc)"
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
demo)
    install_missing "${PACKAGES[@]}"
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    # Only the demo, its component library, the library and the checker it runs.
    cmake --build build -j "$(nproc)" --target krerrlog_demo
    out=build/demo-output
    # The demo's component library is found through the loader's search path.
    LD_LIBRARY_PATH="$PWD/build/examples/components${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
        ./build/bin/krerrlog_demo "$out"
    ;;
bench)
    install_missing "${PACKAGES[@]}"
    [ -x bench/install-comparisons.sh ] && bench/install-comparisons.sh
    configure build-release -DCMAKE_BUILD_TYPE=Release -DKRERRLOG_BUILD_TESTS=OFF
    cmake --build build-release -j "$(nproc)"
    for b in build-release/bin/bench_*; do "$b"; done
    ;;
package)
    install_missing cmake g++ make dpkg-dev
    configure build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DKRERRLOG_BUILD_TESTS=OFF -DKRERRLOG_BUILD_BENCH=OFF -DKRERRLOG_BUILD_EXAMPLES=OFF
    cmake --build build-package -j "$(nproc)"
    (cd build-package && cpack -G DEB)
    ls -l build-package/packages/*.deb
    ;;
*)
    echo "usage: $0 test|demo|bench|package" >&2
    exit 2
    ;;
esac
