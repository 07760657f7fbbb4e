#!/bin/sh
# Configures the sources without Wine in a directory of its own, whose tests must be those of
# the Wine build that are not labelled wine_platform.
#   compare-test-lists.sh SOURCE_DIR WINE_BUILD OTHER_BUILD TOOLCHAIN
set -eu
cmake -S "$1" -B "$3" --toolchain "$4" -DULVEX_WINE_TESTS=OFF >/dev/null
names() { ctest --test-dir "$@" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
names "$2" -LE wine_platform -FA '.*' >"$3/wine-tests.txt"
names "$3" >"$3/tests.txt"
diff "$3/wine-tests.txt" "$3/tests.txt"
echo "$(wc -l <"$3/tests.txt") tests registered both with and without Wine"
