#!/bin/sh
# Times the library against JNA 5 and jna-platform in one JVM: a JMH benchmark run by a Windows
# java.exe under Wine. Not a test.
#   bench/java/run.sh JAVA_EXE [JMH options]
# JAVA_EXE is the Windows java.exe (a Linux path). Without JMH options it runs
# -f 1 -wi 3 -i 5 -w 1s -r 1s. ULVEX_BUILD_DIR (default: build beside bench/) must hold the built
# bin/ulvexwin64.dll, bin/ulvexwin64.jar and wine-run.sh, and the Wine platform must be running
# (cmake/wine-env.sh start build/wine). The jars come from bench/java/pom.xml through Maven and
# must match bench/java/jars.sha256 (cmake/fetch-pinned.sh); classes and results go to
# ULVEX_BUILD_DIR/bench-java.
# JVM_FLAGS adds JVM options, given to java.exe and by JMH to its forks. ROUNDS (default 1)
# repeats the whole run; the closing table takes medians over the rounds.
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 JAVA_EXE [JMH options]" >&2
    exit 2
fi
java_exe=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${ULVEX_BUILD_DIR:-$here/../../build}" && pwd)
work=$build/bench-java
jvm_flags=${JVM_FLAGS:-}

# The jars, fetched whole and checked against jars.sha256 as the Java suite's are.
if [ ! -d "$work/lib" ]; then
    "$here/../../cmake/fetch-pinned.sh" maven "$here/pom.xml" "$here/jars.sha256" "$work/m2" \
        "$work/lib"
fi

# Compiled on Linux for Java 8, the lowest release JMH 1.37 and JNA 5 support; JMH's annotation
# processor writes the generated benchmark classes and META-INF/BenchmarkList.
rm -rf "$work/classes"
mkdir -p "$work/classes"
javac -nowarn --release 8 -d "$work/classes" \
    -cp "$work/lib/*:$build/bin/ulvexwin64.jar" \
    -processorpath "$work/lib/jmh-generator-annprocess-1.37.jar:$work/lib/jmh-core-1.37.jar" \
    $(find "$here/src" -name '*.java')

# Windows paths through Wine's Z: drive; Java on Windows takes forward slashes.
classpath="Z:$work/classes;Z:$work/lib/*;Z:$build/bin/ulvexwin64.jar"
if [ $# -eq 0 ]; then
    set -- -f 1 -wi 3 -i 5 -w 1s -r 1s
fi
rounds=${ROUNDS:-1}
rm -f "$work"/result-*.csv
round=1
while [ "$round" -le "$rounds" ]; do
    # Wine 8 lacks iphlpapi's GetAnycastIpAddressTable, which JDK 21 calls when it lists
    # network interfaces: the IPv4 stack's loopback address needs no list (JMH's link to its
    # forks), and wine.security puts first a SecureRandom that needs none (JMH's and JNA's
    # temporary files).
    # shellcheck disable=SC2086 # the flags are split on purpose
    "$build/wine-run.sh" "$java_exe" -Djava.net.preferIPv4Stack=true \
        "-Djava.security.properties=Z:$here/wine.security" $jvm_flags \
        "-Djava.library.path=Z:$build/bin" -cp "$classpath" \
        org.openjdk.jmh.Main -rf csv -rff "Z:$work/result-$round.csv" "$@"
    round=$((round + 1))
done

# Ours against JNA. Each round measures both sides under the same load on the machine (which
# other work shares), so the ratio is the median of the per-round ratios, with its range.
awk -F, '
function median(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) {
        t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
    }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
function range(list,    n, v, i, lo, hi) {
    n = split(list, v, " "); lo = hi = v[1]
    for (i = 2; i <= n; i++) { if (v[i] + 0 < lo + 0) lo = v[i]; if (v[i] + 0 > hi + 0) hi = v[i] }
    return sprintf("%.2f-%.2f", lo, hi)
}
FNR > 1 {
    gsub(/"/, ""); name = $1; sub(/^com\.ulvex\.bench\./, "", name); param = $8
    side = name ~ /[Oo]urs$/ ? "ours" : name ~ /[Jj]na$/ ? "jna" : ""
    if (side == "") next
    sub(/\.?(ours|Ours|jna|Jna)$/, "", name); key = name (param == "" ? "" : " " param)
    if (!(key in seen)) { order[++n] = key; seen[key] = 1 }
    score[key, side, FILENAME] = $5; files[FILENAME] = 1
}
END {
    printf "%-22s %12s %12s %7s %11s %7s %s\n", "benchmark", "ours ns/op", "JNA ns/op",
        "ratio", "range", "target", "met"
    for (i = 1; i <= n; i++) {
        k = order[i]; ours = jna = ratios = ""
        for (f in files) if ((k, "ours", f) in score && (k, "jna", f) in score) {
            ours = ours " " score[k, "ours", f]; jna = jna " " score[k, "jna", f]
            ratios = ratios " " score[k, "ours", f] / score[k, "jna", f]
        }
        if (ratios == "") continue
        target = k ~ /^Environment/ ? 0.3 : k ~ /^Registry/ ? 0.9 : 1.0
        r = median(ratios)
        printf "%-22s %12.0f %12.0f %7.3f %11s %7.1f %s\n", k, median(ours), median(jna), r,
            range(ratios), target, r <= target ? "yes" : "no"
    }
}' "$work"/result-*.csv
