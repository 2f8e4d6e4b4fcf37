#!/usr/bin/env bash
# The main job: installs the Python module and runs a discovery on example data made from
# a known formula, printing the Pareto front with EML text and LaTeX.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/install-module.sh
python3 python-module/examples/discover.py
