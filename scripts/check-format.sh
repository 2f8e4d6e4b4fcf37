#!/usr/bin/env bash
# Fails, naming the places, when a tracked C++ file is not laid out as .clang-format says.
# To mend: clang-format -i on the files it names.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 -P "$(nproc)" -n 32 clang-format --dry-run --Werror
echo "check-format: every C++ file is laid out as .clang-format says"
