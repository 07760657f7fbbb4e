#!/bin/sh
# Fingerprints what the session tests must leave as they found it in the test prefix: the
# system's wtsapi32.dll and the machine's product options. `save` records, `check` compares.
#   untouched.sh save|check WINE_RUN STATE_DIR
set -eu
cd "$3"
"$2" reg export 'HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions' product-options.reg /y \
    >/dev/null
case "$1" in
save) sha256sum prefix/drive_c/windows/system32/wtsapi32.dll product-options.reg >untouched.sha256 ;;
check) sha256sum -c untouched.sha256 ;;
*) echo "usage: $0 save|check WINE_RUN STATE_DIR" >&2; exit 2 ;;
esac
