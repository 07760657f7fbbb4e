#!/bin/sh
# Installs the Debian packages the build and the tests need, when any is missing (as root).
set -eu
packages="cmake make clang-19 lld-19 llvm-19 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 xvfb
openjdk-17-jdk-headless googletest liblnk-utils clang-format osslsigncode openssl zip
unzip maven python3-pip locales"
missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $package"
    fi
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    if [ "$(id -u)" -ne 0 ]; then
        echo "run as root to install the missing packages" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi

# The Java suite runs its text rows again under ANSI code page 932, which Wine takes from the
# locale ja_JP.UTF-8 (C.UTF-8 gives 1252).
if ! locale -a | grep -qx 'ja_JP.utf8'; then
    echo "generating the locale ja_JP.UTF-8"
    if [ "$(id -u)" -ne 0 ]; then
        echo "run as root to generate the locale" >&2
        exit 1
    fi
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen
fi
