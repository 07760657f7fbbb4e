#!/usr/bin/env bash
# Builds ulvexwin64.dll and ulvexwin64.jar (build/bin), then loads the fresh DLL under Wine
# through the JNI host and prints a few live answers.
set -euo pipefail
cd "$(dirname "$0")"
cmake/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw
cmake/wine-env.sh start build/wine
trap 'cmake/wine-env.sh stop build/wine' EXIT
build/wine-run.sh build/bin/probe.exe
