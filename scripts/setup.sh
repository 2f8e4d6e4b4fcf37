#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine; cheap when
# everything is already there.
set -euo pipefail

apt_packages=(gcc g++ ninja-build libeigen3-dev libfmt-dev libgtest-dev locales)
# The BLAS benchmarks' second baseline, loaded at run time only; never linked.
apt_packages+=(libopenblas0)
# The Python module builds against the interpreter's headers and installs with pip.
python3 -c 'import os, sys, sysconfig; sys.exit(not os.path.exists(sysconfig.get_paths()["include"] + "/Python.h"))' \
  || apt_packages+=(python3-dev)
python3 -m pip --version >/dev/null 2>&1 || apt_packages+=(python3-pip)
missing=()
for pkg in "${apt_packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# An interpreter that the system marks as externally managed still takes these packages.
export PIP_BREAK_SYSTEM_PACKAGES=1
command -v cmake >/dev/null 2>&1 || python3 -m pip install -q "cmake>=3.24"

# What `pip install .` builds with (without build isolation, so that a build downloads
# nothing) and what the module's tests run with.
python_missing=$(python3 -c '
import re
from importlib.metadata import PackageNotFoundError, version
for name, least in {"scikit-build-core": (0, 10), "numpy": (0, 0), "pytest": (0, 0)}.items():
    try:
        major_minor = re.match(r"(\d+)\.(\d+)", version(name))
        if major_minor is None or tuple(map(int, major_minor.groups())) < least:
            print(name)
    except PackageNotFoundError:
        print(name)
')
if [[ -n "$python_missing" ]]; then
  echo "setup: installing" $python_missing
  python3 -m pip install -q "scikit-build-core>=0.10" numpy pytest
fi

# The number-text tests run under a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
