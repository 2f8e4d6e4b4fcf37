#!/usr/bin/env bash
# Fails, naming the places, when a tracked C++ file is not laid out as .clang-format says.
# To mend: clang-format -i on the files it names. Installs Debian's clang-format if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
  echo "check-format: installing clang-format"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq clang-format >/dev/null
fi
git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 -P "$(nproc)" -n 32 clang-format --dry-run --Werror
echo "check-format: every C++ file is laid out as .clang-format says"
