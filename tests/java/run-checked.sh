#!/bin/sh
# Runs a Java program in a fresh working directory and fails when it fails, when its output
# holds a report of -Xcheck:jni or of the virtual machine, or when it leaves a crash log.
#   run-checked.sh WORKDIR COMMAND [ARGS...]
set -u
rm -rf "$1" && mkdir -p "$1" && cd "$1" || exit 1
shift
"$@" >output.txt 2>&1
status=$?
cat output.txt
if grep -inE 'in native method|warning: jni|^(warning|fatal|error)\b|\[(warning|error) *\]|exception_access_violation' output.txt >reports.txt; then
    echo "FAILED: the virtual machine reported:" && cat reports.txt
    status=1
fi
for log in hs_err_pid*; do
    [ -e "$log" ] && echo "FAILED: crash log $PWD/$log" && status=1
done
exit $status
