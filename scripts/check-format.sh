#!/usr/bin/env bash
# Fails, naming the places, when a tracked C++ file is not laid out as .clang-format says.
# To mend: clang-format-14 -i on the files it names. The layout is that of clang-format 14
# (Debian 12's); other versions break some lines otherwise, so it is that one, installed
# if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=clang-format-14
if ! command -v "$formatter" >/dev/null 2>&1; then
  echo "check-format: installing $formatter"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "$formatter" >/dev/null
fi
git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 -P "$(nproc)" -n 32 "$formatter" --dry-run --Werror
echo "check-format: every C++ file is laid out as .clang-format says"
