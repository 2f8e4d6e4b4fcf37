#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine; cheap when
# everything is already there.
set -euo pipefail

apt_packages=(gcc g++ ninja-build libeigen3-dev libfmt-dev libgtest-dev locales)
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

command -v cmake >/dev/null 2>&1 || python3 -m pip install -q "cmake>=3.24"

# The number-text tests run under a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
