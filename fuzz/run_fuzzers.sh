#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for SECONDS on a copy of its committed corpus, one after the other. Exits non-zero when a
# harness finds a crash, a hang, a leak or a broken check; the inputs it found are kept and
# their paths printed.
#
#   fuzz/run_fuzzers.sh [SECONDS]          (default 60)
#
# Environment: KAVEL_FUZZ_BUILD   build directory (default build-fuzz at the top of the tree)
#              KAVEL_FUZZ_JOBS    ninja jobs (default 2)
#              KAVEL_FUZZ_TARGETS harnesses to run (default "fuzz_header fuzz_block fuzz_region")
set -euo pipefail
seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || (( seconds < 1 )); then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVEL_FUZZ_BUILD:-$root/build-fuzz}
jobs=${KAVEL_FUZZ_JOBS:-2}
targets=(${KAVEL_FUZZ_TARGETS:-fuzz_header fuzz_block fuzz_region})

if ! command -v clang++ >/dev/null; then
    "$root/scripts/install-deps.sh"
fi

echo "== Building the fuzz harnesses in $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKAVEL_BUILD_FUZZ=ON \
    -DKAVEL_BUILD_PLUGIN=OFF -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=OFF \
    -DKAVEL_BUILD_TOOLS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/kavel-fuzz-XXXXXX")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in "${targets[@]}"; do
    corpus="$work/$target/corpus"
    artifacts="$work/$target/artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    echo "== $target for ${seconds}s"
    status=0
    (cd "$work/$target" && "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -dict="$root/fuzz/kavel.dict" \
        -artifact_prefix="$artifacts/" "$corpus" \
        >"$work/$target/log.txt" 2>&1) || status=$?
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
        "$work/$target/log.txt" || true
    if (( status != 0 )) || [[ -n "$(ls -A "$artifacts")" ]]; then
        echo "$target FOUND A PROBLEM (exit $status); its log:"
        grep -v -E '^#[0-9]+' "$work/$target/log.txt" | tail -n 60
        echo "inputs kept in $artifacts:"
        ls -l "$artifacts"
        failed+=("$target")
    fi
done

if (( ${#failed[@]} > 0 )); then
    echo "== Fuzzing found problems in: ${failed[*]} (inputs and logs in $work)"
    exit 1
fi
rm -rf "$work"
echo "== All harnesses ran ${seconds}s without findings"
