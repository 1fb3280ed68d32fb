#!/usr/bin/env bash
# Times the Java bridge from a JVM: ns per LogMsg into a file and per TraceMsg
# for an unselected component, 1 and 4 threads, beside an empty native method.
#   bench/java_bridge_bench.sh [build folder, default build-java-bench] [part of a call's name]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-java-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKRERRLOG_BUILD_TESTS=ON -DKRERRLOG_BUILD_BENCH=OFF \
          -DKRERRLOG_BUILD_EXAMPLES=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target krerrlog krerrlog_jar krerrlog_java_tests krjnibaseline
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
java -Dkrerrlog.library="$PWD/$build/bin/libkrerrlog.so" \
     -Dkrerrlog.baseline="$PWD/$build/bin/libkrjnibaseline.so" \
     -cp "$build/share/java/krerrlog.jar:$build/tests/java/krerrlog_java_tests.jar" \
     krerrlog.javatests.BridgeBench "$work" "${2:-}"
