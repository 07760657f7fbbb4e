#!/bin/sh
# Times the library against the Foreign Function and Memory API, JNA 5 and jna-platform in one
# JVM: a JMH benchmark run by a Windows java.exe 22 or later under Wine. Not a test.
#   bench/java/run.sh JAVA_EXE [JMH options]
# JAVA_EXE is the Windows java.exe (a Linux path). Without JMH options it runs
# -f 1 -wi 3 -i 5 -w 1s -r 1s. ULVEX_BUILD_DIR (default: build beside bench/) must hold the built
# bin/ulvexwin64.dll, bin/ulvexwin64.jar and wine-run.sh, and the Wine platform must be running
# (cmake/wine-env.sh start build/wine). The jars come from bench/java/pom.xml through Maven and
# must match bench/java/jars.sha256 (cmake/fetch-pinned.sh); classes and results go to
# ULVEX_BUILD_DIR/bench-java. JAVAC (default: the Temurin 25 JDK's) compiles the benchmark.
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

# Compiled on Linux for Java 22, the first release whose java.lang.foreign is final; JMH's
# annotation processor writes the generated benchmark classes and META-INF/BenchmarkList.
rm -rf "$work/classes"
mkdir -p "$work/classes"
"${JAVAC:-/usr/lib/jvm/temurin-25-jdk-amd64/bin/javac}" -nowarn --release 22 -d "$work/classes" \
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
    # Wine 8 lacks iphlpapi's GetAnycastIpAddressTable, which JDK 21 and 25 call when it lists
    # network interfaces: the IPv4 stack's loopback address needs no list (JMH's link to its
    # forks), and wine.security puts first a SecureRandom that needs none (JMH's and JNA's
    # temporary files).
    # JNA and FFM both call native code: --enable-native-access spares the warnings. Without a
    # processor count Java 25 asks Wine for the process group affinity, which Wine lacks, and
    # prints a warning each time, many times a second.
    # shellcheck disable=SC2086 # the flags are split on purpose
    "$build/wine-run.sh" "$java_exe" -Djava.net.preferIPv4Stack=true -XX:ActiveProcessorCount=2 \
        --enable-native-access=ALL-UNNAMED "-Djava.security.properties=Z:$here/wine.security" \
        $jvm_flags \
        "-Djava.library.path=Z:$build/bin" -cp "$classpath" \
        org.openjdk.jmh.Main -rf csv -rff "Z:$work/result-$round.csv" "$@"
    round=$((round + 1))
done

# Ours against each other side. Each round measures every side under the same load on the
# machine (which other work shares), so a ratio is the median of the per-round ratios ours /
# that side, with its range. A row without our score was skipped at set-up (the output says why).
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
BEGIN {
    sides = split("ours ffmArena ffmReused jnaW jna", side, " ")
    # Targets for ours / each side; none against JNA direct mapping, and against jna-platform only
    # on the environment rows.
    target["ffmArena"] = 1.0; target["ffmReused"] = 1.1
}
FNR > 1 {
    gsub(/"/, ""); name = $1; sub(/^com\.ulvex\.bench\./, "", name); param = ""
    for (i = 8; i <= NF; i++) if ($i != "") param = param " " $i
    s = ""
    for (i = sides; i >= 1; i--) if (tolower(name) ~ tolower(side[i]) "$") { s = side[i]; break }
    if (s == "") next
    name = substr(name, 1, length(name) - length(s)); sub(/\.$/, "", name)
    sub(/\./, " ", name)
    key = name param
    if (!(key in seen)) { order[++n] = key; seen[key] = 1 }
    score[key, s, FILENAME] = $5; files[FILENAME] = 1
}
function cell(k, s,    list, f) {
    list = ""
    for (f in files) if ((k, s, f) in score) list = list " " score[k, s, f]
    return list == "" ? "-" : sprintf("%.0f", median(list))
}
END {
    printf "%-26s %9s %9s %9s %9s %9s\n", "ns/op", "ours", "ffmArena", "ffmReused", "jnaW", "jna"
    for (i = 1; i <= n; i++) {
        k = order[i]; printf "%-26s", k
        for (j = 1; j <= sides; j++) printf " %9s", cell(k, side[j])
        printf "\n"
    }
    printf "\n%-26s %-10s %8s %11s %7s %s\n", "ours / side", "side", "median", "range",
        "target", "met"
    for (i = 1; i <= n; i++) {
        k = order[i]
        if (cell(k, "ours") == "-") {
            printf "%-26s %-10s %8s\n", k, "all", "skipped: no score of ours (its set-up failed)"
            continue
        }
        for (j = 2; j <= sides; j++) {
            ratios = ""
            for (f in files) if ((k, "ours", f) in score && (k, side[j], f) in score) {
                ratios = ratios " " score[k, "ours", f] / score[k, side[j], f]
            }
            t = side[j] in target ? target[side[j]] : side[j] == "jna" && k ~ /^Environment/ ? 0.15 : ""
            if (ratios == "") {
                printf "%-26s %-10s %8s\n", k, side[j], "skipped: no score (its set-up failed)"
                continue
            }
            r = median(ratios)
            printf "%-26s %-10s %8.3f %11s %7s %s\n", k, side[j], r, range(ratios),
                t == "" ? "-" : sprintf("%.2f", t), t == "" ? "" : r <= t + 0 ? "yes" : "no"
        }
    }
}' "$work"/result-*.csv
