#!/bin/sh
# Puts the suite's wtsapi32.dll into the test prefix's system directory, or Wine's own back.
#   wts_double.sh install DOUBLE SYSTEM32 SAVED | wts_double.sh restore DOUBLE SYSTEM32 SAVED
set -eu
action=$1
double=$2
target="$3/wtsapi32.dll"
saved=$4

replace() {
    cp "$1" "$target.new"
    mv -f "$target.new" "$target"
}

case "$action" in
install)
    if [ ! -f "$saved" ]; then
        cp "$target" "$saved"
    fi
    replace "$double"
    ;;
restore)
    if [ -f "$saved" ]; then
        replace "$saved"
        rm -f "$saved"
    fi
    ;;
*) echo "usage: $0 install|restore DOUBLE SYSTEM32 SAVED" >&2; exit 2 ;;
esac
