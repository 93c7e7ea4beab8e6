#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test twice:
# once in a normal build (warnings are errors) and once in an AddressSanitizer +
# UndefinedBehaviorSanitizer build. With clang present, the sanitizer build also
# runs each libFuzzer target briefly (with the threaded paths on), and a
# ThreadSanitizer build runs the tests of the threaded paths (label "threads").
# The output ends with CTest's summary of the sanitizer build and the skipped
# tests of each build.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${PELORA_FUZZ_SECONDS:-30}

# The run ends by saying how many tests skipped in each build, and why. A test
# skips when what it needs is missing: the conformance corpus (looked for at
# the build's PELORA_CORPUS_DIR), or root for a full file system. The reason is
# the line GoogleTest prints after "Skipped".
tested=()
report_skips() {
    local build log
    for build in "${tested[@]}"; do
        log=$build/Testing/Temporary/LastTest.log
        [ -f "$log" ] || continue
        echo "== skipped tests in $build =="
        awk '/: Skipped$/ { getline reason; count[reason]++; total++ }
             END { printf "%d skipped\n", total
                   for (reason in count) printf "  %d: %s\n", count[reason], reason }' "$log"
        sed -n 's/^PELORA_CORPUS_DIR:PATH=/  corpus looked for at: /p' "$build/CMakeCache.txt"
    done
}
trap report_skips EXIT

echo "== normal build =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_WERROR=ON
cmake --build build/release -j "$jobs"
tested+=(build/release)
ctest --test-dir build/release --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null 2>&1; then
    echo "== thread sanitizer build (tests labelled threads) =="
    cmake -S . -B build/tsan -G Ninja -DPELORA_TSAN=ON -DPELORA_WERROR=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DPELORA_FUZZ=OFF \
        -DPELORA_BUILD_BENCH=OFF
    cmake --build build/tsan -j "$jobs" --target thread_tests
    TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
        ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threads
fi

echo "== sanitizer build =="
sanitize_args=(-DPELORA_SANITIZE=ON -DPELORA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug)
if command -v clang++ >/dev/null 2>&1; then
    sanitize_args+=(-DCMAKE_CXX_COMPILER=clang++ -DPELORA_FUZZ=ON
                    -DPELORA_FUZZ_SECONDS="$fuzz_seconds")
else
    echo "clang++ not found: fuzz targets only replay their seeds"
fi
cmake -S . -B build/sanitize -G Ninja "${sanitize_args[@]}"
cmake --build build/sanitize -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
tested+=(build/sanitize)
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
