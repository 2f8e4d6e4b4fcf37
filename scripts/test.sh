#!/usr/bin/env bash
# Set-up, a full build and every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

werror=OFF
[[ -n "${CI:-}" ]] && werror=ON
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR="$werror" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The Python module, built by pip from the same tree, and its tests.
bash scripts/install-module.sh
python3 -m pytest -q python-module/tests
