#!/usr/bin/env bash
# Builds ulvexwin64.dll and ulvexwin64.jar (build/bin) and the release package, then calls each
# family of the fresh DLL through the jar from a Windows Java runtime under Wine, prints what it
# saw, and the package's path.
set -euo pipefail
cd "$(dirname "$0")"
cmake/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw
cmake/wine-env.sh start build/wine
trap 'cmake/wine-env.sh stop build/wine' EXIT
build/java-probe.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
echo "package: $PWD/build/ulvexwin64-$version-win64.zip"
