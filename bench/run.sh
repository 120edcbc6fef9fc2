#!/bin/bash
# Benchmarks of the installer image. Prints a table of medians measured side
# by side in this run, with the targets they are held to.
# usage: bench/run.sh [RUNS]     (RUNS per measurement, default 10; 1 is a smoke run)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
warmup=$((runs > 1 ? 3 : 0))
"$top/tools/build.sh" >/dev/null

work="$top/build/bench"
mkdir -p "$work"
cd "$work"
NATIVE_SIZE=18286626
LARGE_SIZE=$((512 * 1024 * 1024))
WIZARD="$top/build/portable/wizard/tqwiz" # the one the image ships

# --- images around random payloads, built by CMake from the launcher's own target ---
for spec in "native:$NATIVE_SIZE" "large:$LARGE_SIZE"; do
    name=${spec%%:*} size=${spec#*:}
    [ "$(stat -c %s "$name.bin" 2>/dev/null || echo 0)" = "$size" ] || head -c "$size" /dev/urandom >"$name.bin"
    # What a user would build instead: a shell script with the payload appended.
    { printf '#!/bin/sh\ntail -c %s "$0" >"$1"\nexit 0\n' "$size"; cat "$name.bin"; } >"$name.sfx"
    chmod +x "$name.sfx"
done
cmake -S "$top" -B "$top/build" "-DBENCH_PAYLOADS=$work/native.bin;$work/large.bin" "-DBENCH_WIZARD=$WIZARD" >/dev/null
cmake --build "$top/build" --target bench_image_native bench_image_large >/dev/null
for name in native large; do
    cp "$top/build/bench/bench_image_$name" "$name.run"
    cat "$name.bin" "$name.run" "$name.sfx" >/dev/null # into the page cache
done

median_ms() { # CSV ROW
    awk -F, -v row="$2" 'NR == row + 1 { printf "%.1f", $4 * 1000 }' "$1"
}

declare -A result
for name in native large; do
    hyperfine -N --warmup "$warmup" --runs "$runs" --prepare "rm -f $work/out.bin" --export-csv "$name.csv" \
        "$work/$name.run extract $work/out.bin" "cp $work/$name.bin $work/out.bin" "$work/$name.sfx $work/out.bin" \
        >/dev/null
    result[$name.extract]=$(median_ms "$name.csv" 1)
    result[$name.cp]=$(median_ms "$name.csv" 2)
    result[$name.sfx]=$(median_ms "$name.csv" 3)
    peaks=()
    for _ in 1 2 3 4 5; do
        rm -f out.bin
        peaks+=("$(/usr/bin/time -f %M "$work/$name.run" extract out.bin 2>&1 >/dev/null)")
    done
    result[$name.peak]=$(printf '%s\n' "${peaks[@]}" | sort -n | sed -n 3p)
    result[$name.overhead]=$(($(stat -c %s "$name.run") - $(stat -c %s "$name.bin") - $(stat -c %s "$WIZARD")))
done
rm -f out.bin

image="$top/build/morrowlin-tesserak-installer.run"
package=$(echo "$top"/build/package/morrowlin-tesserak_*_amd64.deb)
image_overhead=$(($(stat -c %s "$image") - $(stat -c %s "$package") - $(stat -c %s "$WIZARD") - 80))
# /bin/true loads the C library alone, as the launcher should.
# A start takes half a millisecond: many runs, or the timer's grain decides.
hyperfine -N --warmup $((warmup * 10)) --runs $((runs * 100)) --export-csv help.csv "$image help" /bin/true >/dev/null
help_ms=$(awk -F, 'NR == 2 { printf "%.2f", $4 * 1000 }' help.csv)
true_ms=$(awk -F, 'NR == 3 { printf "%.2f", $4 * 1000 }' help.csv)

# Where the file system shares blocks (XFS with reflink, on a loop device in
# the sandbox): the package's whole pages are shared with the image, not copied.
shared_result=$("$top/tests/sandbox/sandbox.sh" --ro "$work" --cwd /tmp/bench -- bash -c '
    command -v mkfs.xfs >/dev/null || { echo "no mkfs.xfs"; exit; }
    truncate -s 3G /tmp/xfs.img && mkfs.xfs -q -m reflink=1 /tmp/xfs.img 2>/dev/null &&
        mkdir /tmp/xfs && mount -o loop /tmp/xfs.img /tmp/xfs 2>/dev/null || { echo "no loop mount here"; exit; }
    cp "$0/large.run" "$0/large.bin" /tmp/xfs/
    cd /tmp/xfs && hyperfine -N --warmup 1 --runs "$1" --prepare "rm -f out.bin" --export-csv shared.csv         "./large.run extract out.bin" "cp large.bin out.bin" >/dev/null 2>&1 || { echo "hyperfine failed"; exit; }
    awk -F, "NR > 1 { printf \"%.1f \", \$4 * 1000 }" shared.csv
    cd / && umount /tmp/xfs' "$work" "$runs" || true)

# The wizard's first window, in a private X server inside the sandbox: the
# shipped one (its own static Qt) and the same sources on the system's shared
# Qt, taking turns.
g++ -O2 "$top/bench/first_window.cpp" -lX11 -o first_window
read -r first_window_ms system_qt_first_window_ms < <("$top/tests/sandbox/sandbox.sh" --ro "$top" --cwd /tmp/bench -- bash -c '
    Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X9 ] && break; sleep 0.1; done
    median() { sort -n "$1" | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
    for _ in $(seq '"$runs"'); do
        DISPLAY=:9 "$0" "$1" 2>/dev/null >>shipped.ms
        DISPLAY=:9 "$0" "$2" 2>/dev/null >>system.ms
    done
    echo "$(median shipped.ms) $(median system.ms)"
    kill $xvfb' "$work/first_window" "$WIZARD" "$top/build/wizard/tqwiz")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
met() { if awk -v v="$1" -v t="$2" 'BEGIN { exit !(v < t) }'; then echo yes; else echo NO; fi; }
at_most() { if awk -v v="$1" -v t="$2" 'BEGIN { exit !(v <= t) }'; then echo yes; else echo NO; fi; }

echo "Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), Linux $(uname -r), $(findmnt -n -o FSTYPE -T "$work")"
echo "Medians of $runs runs (hyperfine), measured side by side."
echo
printf '| %-44s | %14s | %14s | %-26s | %-4s |\n' "measure" "18,286,626 B" "512 MiB" "target" "met"
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------------" "----------------" "----------------" "----------------------------" "------"
row() { printf '| %-44s | %14s | %14s | %-26s | %-4s |\n' "$@"; }
r_native=$(ratio "${result[native.extract]}" "${result[native.cp]}")
r_large=$(ratio "${result[large.extract]}" "${result[large.cp]}")
row "extract (ms)" "${result[native.extract]}" "${result[large.extract]}" "" ""
row "cp from the page cache (ms)" "${result[native.cp]}" "${result[large.cp]}" "" ""
row "self-extracting shell script, tail -c (ms)" "${result[native.sfx]}" "${result[large.sfx]}" "" ""
row "extract / cp" "$r_native" "$r_large" "<= 1.0 and <= 0.9" \
    "$([ "$(at_most "$r_native" 1.0)" = yes ] && [ "$(at_most "$r_large" 0.9)" = yes ] && echo yes || echo NO)"
row "extract / shell script" "$(ratio "${result[native.extract]}" "${result[native.sfx]}")" \
    "$(ratio "${result[large.extract]}" "${result[large.sfx]}")" "" ""
peak_native_mib=$(awk -v k="${result[native.peak]}" 'BEGIN { printf "%.1f", k / 1024 }')
peak_large_mib=$(awk -v k="${result[large.peak]}" 'BEGIN { printf "%.1f", k / 1024 }')
row "peak memory of extract (MiB)" "$peak_native_mib" "$peak_large_mib" "<= 8 MiB for both" \
    "$([ "${result[native.peak]}" -le 8192 ] && [ "${result[large.peak]}" -le 8192 ] && echo yes || echo NO)"
# C++'s runtime linked in (so that only the C library is loaded) takes most of it.
row "image overhead beyond the payloads (bytes)" "${result[native.overhead]}" "${result[large.overhead]}" "< 262144" \
    "$(met "${result[large.overhead]}" 262144)"
echo
printf '| %-44s | %14s | %-26s | %-4s |\n' "measure" "value" "target" "met"
printf '|%s|%s|%s|%s|\n' "----------------------------------------------" "----------------" "----------------------------" "------"
printf '| %-44s | %14s | %-26s | %-4s |\n' "built image overhead beyond payloads+trailer" "$image_overhead B" "< 262144 B" "$(met "$image_overhead" 262144)"
printf '| %-44s | %14s | %-26s | %-4s |\n' "\"help\", start to exit" "$help_ms ms" "< 5 ms" "$(met "$help_ms" 5)"
printf '| %-44s | %14s | %-26s | %-4s |\n' "/bin/true, start to exit" "$true_ms ms" "" ""
help_ratio=$(ratio "$help_ms" "$true_ms")
printf '| %-44s | %14s | %-26s | %-4s |\n' "\"help\" / /bin/true" "$help_ratio" "<= 1.15" "$(at_most "$help_ratio" 1.15)"
if [[ "$shared_result" =~ ^[0-9.]+\ [0-9.]+\ $ ]]; then
    read -r shared_extract shared_cp <<<"$shared_result"
    printf '| %-44s | %14s | %-26s | %-4s |\n' "512 MiB on XFS sharing blocks: extract" "$shared_extract ms" "" ""
    printf '| %-44s | %14s | %-26s | %-4s |\n' "512 MiB on XFS sharing blocks: cp" "$shared_cp ms" "" ""
else
    printf '| %-44s | %14s | %-26s | %-4s |\n' "sharing blocks (XFS on a loop device)" "not measured" "$shared_result" ""
fi
printf '| %-44s | %14s | %-26s | %-4s |\n' "wizard, start to first window (Xvfb)" "$first_window_ms ms" "< 500 ms" "$(met "$first_window_ms" 500)"
first_window_ratio=$(ratio "$first_window_ms" "$system_qt_first_window_ms")
printf '| %-44s | %14s | %-26s | %-4s |\n' "the same on the system's shared Qt" "$system_qt_first_window_ms ms" "" ""
printf '| %-44s | %14s | %-26s | %-4s |\n' "shipped / system's Qt, first window" "$first_window_ratio" "<= 1.2" "$(at_most "$first_window_ratio" 1.2)"
