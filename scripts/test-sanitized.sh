#!/usr/bin/env bash
# The C++ test suites and the Python module's tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of their own. A finding of either ends the
# run with a failure; the array pool keeps nothing in this build, so stale reads of
# released arrays are found too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

source scripts/build-settings.sh
# float-cast-overflow is not part of "undefined" in g++; a double read as an integer out
# of range is exactly the fault the checked readings exist for.
sanitizers="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-sanitized -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 $sanitizers" \
  -DVORN_WERROR="$werror" -DVORN_BENCH=OFF -DVORN_PYTHON=ON >/dev/null
cmake --build build-sanitized -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1"
ctest --test-dir build-sanitized --output-on-failure --timeout "$test_timeout" -j "$jobs"

# The interpreter itself is not instrumented: the sanitizer runtimes are preloaded, the
# interpreter's own allocator is bypassed so that the module's objects are checked too, and
# leak reports are off (the interpreter keeps memory until exit by design).
ASAN_OPTIONS="detect_leaks=0" PYTHONMALLOC=malloc \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)" \
  PYTHONPATH=build-sanitized/python-module python3 -m pytest -q -p no:cacheprovider python-module/tests
