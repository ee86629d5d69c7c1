#!/usr/bin/env bash
# Builds with warnings as errors and runs the whole test suite, then runs it again under
# AddressSanitizer and UndefinedBehaviorSanitizer (leak checking included), and runs each fuzz
# harness for about a minute.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

echo "== Layers: every include points the allowed way (docs/architecture.md)"
"$root/scripts/check-layers.sh"

echo "== Build (warnings are errors) and tests"
"$root/scripts/build.sh" "$root/build-ci" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEL_WERROR=ON
(cd "$root/build-ci" && ctest --output-on-failure -j "$(nproc)" --timeout 900)

echo "== The library as users install it (prefix, pkg-config, find_package, Debian packages)"
"$root/scripts/check-install.sh" "$root/build-ci"

echo "== KAVEL.8bi for 32- and 64-bit Windows (MinGW-w64), tested under Wine"
windows_start=$SECONDS
# One Wine prefix, made afresh for this run; the build's generators and the tests share it.
rm -rf "$root/build-windows-ci/wine-prefix"
"$root/scripts/build-windows.sh" "$root/build-windows-ci"
"$root/tests/windows/run_wine_tests.sh" "$root/build-windows-ci" "$root/build-ci"
echo "Windows build and Wine tests: $((SECONDS - windows_start)) s"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
# The desktop integrations run inside real applications (gdk-pixbuf-thumbnailer cannot load a
# sanitized loader): they are built and tested once, in the build above.
"$root/scripts/build.sh" "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DKAVEL_WERROR=ON \
    -DKAVEL_SANITIZE=ON -DKAVEL_BUILD_BENCH=OFF -DKAVEL_BUILD_DESKTOP=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$(nproc)" --timeout 1800)

echo "== Fuzz harnesses, about a minute each on their corpora"
KAVEL_FUZZ_BUILD="$root/build-fuzz-ci" bash "$root/fuzz/run_fuzzers.sh" 60
