#!/usr/bin/env bash
# Builds the Python module vorn from this tree with pip and installs it for python3. The
# build requirements come from setup.sh (no build isolation: nothing is downloaded), and
# the build folder build-python/ is kept, so that a second install only relinks. The wheel
# stays in build-python/dist/: one file on the stable ABI for every CPython from 3.11 on.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/build-settings.sh
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_ROOT_USER_ACTION=ignore
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}"
rm -rf build-python/dist
python3 -m pip wheel -q --no-build-isolation --no-deps -C cmake.define.VORN_WERROR="$werror" -w build-python/dist .
python3 -m pip install -q --no-deps --force-reinstall build-python/dist/vorn-*-cp311-abi3-*.whl
