#!/usr/bin/env bash
# The main job. The discovery engine and its Python module are not built yet, so for now
# this builds the libraries and runs their tests.
set -euo pipefail
exec bash "$(dirname "$0")/test.sh"
