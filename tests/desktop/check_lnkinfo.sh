#!/bin/sh
# Writes a shortcut through the library under Wine, then reads it back with lnkinfo, a
# parser that shares nothing with Windows or Wine.
#   check_lnkinfo.sh WINE_RUN LINK_WRITER_EXE WORK_DIR
set -eu
wine_run=$1
writer=$2
work=$3
rm -rf "$work" && mkdir -p "$work"
link="$work/independent.lnk"
windows_path="Z:$(printf '%s' "$link" | tr / '\\')"
"$wine_run" "$writer" "$windows_path"
[ -f "$link" ] || { echo "no shortcut file written at $link"; exit 1; }
lnkinfo "$link" >"$work/lnkinfo.txt"
cat "$work/lnkinfo.txt"
failed=0
expect() {
    if ! grep -q -F -x -e "$1" "$work/lnkinfo.txt"; then
        echo "missing line: $1"
        failed=1
    fi
}
tab=$(printf '\t')
expect "${tab}Local path${tab}${tab}${tab}: C:\\windows\\notepad.exe"
expect "${tab}Description${tab}${tab}${tab}: Ulvex independent check 5°C 100 € Пётр 東京"
expect "${tab}Working directory${tab}${tab}: C:\\windows\\system32"
expect "${tab}Command line arguments${tab}${tab}: --ulvex-args 42"
# lnkinfo prints no show command of its own: read the header's ShowCommand at 0x3C.
show=$(od -A n -t u4 -j 60 -N 4 "$link" | tr -d ' ')
if [ "$show" != 7 ]; then
    echo "show command in the header: $show, expected 7"
    failed=1
fi
exit $failed
