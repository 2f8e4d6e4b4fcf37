#!/usr/bin/env bash
# Set-up, a full build and every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

source scripts/build-settings.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR="$werror" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --timeout "$test_timeout" -j "$jobs"

# The Python module, built by pip from the same tree, and its tests.
bash scripts/install-module.sh
python3 -m pytest -q python-module/tests

# The same wheel under CPython 3.13, in a virtual environment of its own that takes NumPy
# and pytest from the package index. CI insists on it; elsewhere it runs where pyenv or
# PATH has a 3.13.
python_3_13() {
  local candidate
  for candidate in "$(command -v python3.13 || true)" "$(pyenv root 2>/dev/null || echo /nonexistent)"/versions/3.13*/bin/python3.13; do
    if [[ -x "$candidate" ]] && "$candidate" -c '' 2>/dev/null; then
      echo "$candidate"
      return
    fi
  done
}
python=$(python_3_13)
if [[ -n "$python" ]]; then
  venv=build-python/venv-3.13
  [[ -x "$venv/bin/python" ]] || "$python" -m venv "$venv"
  "$venv/bin/python" -c 'import numpy, pytest' 2>/dev/null || "$venv/bin/python" -m pip install -q numpy pytest
  "$venv/bin/python" -m pip install -q --no-deps --force-reinstall build-python/dist/vorn-*-cp311-abi3-*.whl
  "$venv/bin/python" -m pytest -q -p no:cacheprovider python-module/tests
elif [[ -n "${CI:-}" ]]; then
  echo "test: CI runs the module's tests on CPython 3.13 too, and none was found (pyenv install 3.13, or Debian's python3.13 and python3.13-venv)" >&2
  exit 1
else
  echo "test: no CPython 3.13 found; the module's tests ran on $(python3 --version) only"
fi
