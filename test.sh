#!/usr/bin/env bash
# Builds everything and runs every test under Wine; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")"
cmake/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw
ctest --preset mingw
