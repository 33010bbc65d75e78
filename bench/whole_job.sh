#!/usr/bin/env bash
# Whole-process timings, every row of the performance table in one run. Each
# job is paired with its baseline run by run (A B A B ...), each run after an
# untimed `sync`, so drift in the machine's load falls on both alike; the
# table shows medians, and the range of the per-pair ratios.
#
#   M   how long faulting in 50 MB of fresh memory takes right now, first and
#       last: figures from different days read side by side with it
#   P1  the host on an 8192 x 8192 image (201 MB) with 100 stars / `cp`, to a
#       new output and replacing the previous one; the host's peak resident
#       memory (a separate, untimed run under GNU time); and, for reference,
#       replacing against `cp` to a new file then `mv` over the old one, the
#       same atomic replacement done by the standard tools
#   P2  a million stars into 4096 x 4096: the literal job (per-pixel
#       renderer, whole fread and fwrite; bench/literal_job.cpp) / the host,
#       and the host's peak resident memory
#   P2' drawing alone, a million stars (pelindra_render_bench)
#   F   the host as a filter, `- -` from and to regular files, 20 and a million
#       stars into 4096 x 4096 / the same with the host of PELINDRA_BENCH_BASELINE
#       (without it: / this host on the files by name); and the peak resident
#       memory of `-` as input from a regular file and from a pipe, and of
#       `- -` on 8192 x 8192 from a pipe
#   P3  examples/night-sky.bmp with 50 stars / `pelindra --version`
#       (bench/small_image.py, interleaved round by round)
#   W   the Windows x64 host under Wine on the 8192 x 8192 image, 100 stars /
#       a CopyFileW program under Wine; only with PELINDRA_WINDOWS_BUILD
#   and a curve: host and `cp` on the 8192 x 8192 image for 0, 10, 100, ...
#       10,000,000 stars, written to curve.csv in the scratch directory and
#       drawn by bench/plot_curve.py (python3-matplotlib) into curve.png.
#
# Usage: bench/whole_job.sh [RUNS]   (from anywhere; default 7 pairs per row)
# Environment:
#   PELINDRA_BENCH_DIR     scratch directory (default /tmp/pelindra-bench)
#   PELINDRA_BENCH_CURVE   0 skips the curve (it takes a few minutes)
#   PELINDRA_BENCH_BASELINE the pelindra of an earlier build, for row F
#   PELINDRA_WINDOWS_BUILD a windows-x86_64 cross build of this tree (as
#                          .ci/windows-arm makes it) for row W
# Needs GNU time (/usr/bin/time), Google Benchmark and python3; the curve's
# picture needs python3-matplotlib, row W needs wine.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build-bench
runs=${1:-7}
work=${PELINDRA_BENCH_DIR:-/tmp/pelindra-bench}

if [ ! -x /usr/bin/time ]; then
    echo "whole_job.sh: needs GNU time: apt-get install time" >&2
    exit 2
fi

echo "== building ($build_dir)"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELINDRA_BUILD_BENCHMARKS=ON -DPELINDRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
host=$build_dir/pelindra
literal=$build_dir/bench/pelindra_literal_job

mkdir -p "$work"
make_image() { # side path
    if [ ! -f "$2" ] || [ "$(stat -c %s "$2")" -ne $((54 + $1 * $1 * 3)) ]; then
        echo "== making a $1 x $1 image"
        "$build_dir/bench/make_large_bmp" "$1" "$1" "$2"
    fi
}
large=$work/large.bmp
medium=$work/medium.bmp
make_image 8192 "$large"
make_image 4096 "$medium"

now() { echo "${EPOCHREALTIME/./}"; } # microseconds
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# Runs "$@" with its output discarded and prints its wall time in microseconds.
timed() {
    local start
    start=$(now)
    "$@" >/dev/null
    echo $(($(now) - start))
}

# pair LABEL RUNS PREPARE -- A... -- B...
# Runs A and B alternately RUNS times each, PREPARE (untimed) and `sync`
# before every run; prints both medians, the ratio of the medians and the
# range of the ratios of the pairs. Sets pair_a, pair_b and pair_ratio.
pair() {
    local label=$1 count=$2 prepare=$3
    shift 3
    [ "$1" = -- ] && shift
    local a=() b=()
    while [ "$1" != -- ]; do a+=("$1"); shift; done
    shift
    b=("$@")
    local a_times=() b_times=() ratios=()
    for run in $(seq "$count"); do
        $prepare a; sync
        local ta tb
        ta=$(timed "${a[@]}")
        $prepare b; sync
        tb=$(timed "${b[@]}")
        a_times+=("$ta")
        b_times+=("$tb")
        ratios+=("$(awk -v x="$ta" -v y="$tb" 'BEGIN {printf "%.3f", x / y}')")
    done
    pair_a=$(printf '%s\n' "${a_times[@]}" | median)
    pair_b=$(printf '%s\n' "${b_times[@]}" | median)
    pair_ratio=$(awk -v x="$pair_a" -v y="$pair_b" 'BEGIN {printf "%.2f", x / y}')
    local low high
    low=$(printf '%s\n' "${ratios[@]}" | sort -n | head -1)
    high=$(printf '%s\n' "${ratios[@]}" | sort -n | tail -1)
    printf '%-44s %9.1f ms / %9.1f ms = %s  (pairs %s to %s)\n' "$label" \
        "$(awk -v t="$pair_a" 'BEGIN {print t / 1000}')" \
        "$(awk -v t="$pair_b" 'BEGIN {print t / 1000}')" "$pair_ratio" "$low" "$high"
}

# Preparations: each run starts from a missing output, or from the output of
# the previous run of the same command (made once before the first pair).
fresh() { rm -f "$work/job-out.bmp" "$work/cp-out.bmp" "$work/mv-out.bmp"; }
keep() { :; }

probe() {
    echo "M  faulting in 50 MB of fresh memory: $("$build_dir/bench/pelindra_fault_in_probe") s   ($1)"
}
probe "before the rows"
cat "$large" "$medium" >/dev/null # warm the page cache
echo "== $runs pairs per row; medians; A / B"

pair "P1 8192x8192, 100 stars: host / cp (new)" "$runs" fresh \
    -- "$host" --seed 1 "$large" "$work/job-out.bmp" 100 \
    -- cp "$large" "$work/cp-out.bmp"
echo "   target at most 1.15"
"$host" --seed 1 "$large" "$work/job-out.bmp" 100 >/dev/null
cp "$large" "$work/cp-out.bmp"
pair "P1 8192x8192, 100 stars: host / cp (replacing)" "$runs" keep \
    -- "$host" --seed 1 "$large" "$work/job-out.bmp" 100 \
    -- cp "$large" "$work/cp-out.bmp"
echo "   target at most 1.15"
# `cp` over an existing file truncates it and writes in place; the host writes
# a new file and renames it over the old one, so that a failure leaves the old
# file whole. Here the same replacement by the standard tools.
cp "$large" "$work/mv-out.bmp"
pair "P1 replacing: host / cp to a new file + mv over" "$runs" keep \
    -- "$host" --seed 1 "$large" "$work/job-out.bmp" 100 \
    -- sh -c 'cp "$1" "$2.part" && mv -f "$2.part" "$2"' sh "$large" "$work/mv-out.bmp"
echo "   (reference: the same atomic replacement by cp and mv)"
fresh
/usr/bin/time -f %M -o "$work/rss" "$host" --seed 1 "$large" "$work/job-out.bmp" 100 >/dev/null
awk -v k="$(tail -1 "$work/rss")" \
    'BEGIN {printf "P1 peak resident memory %.1f MiB   (target under 16 MiB)\n", k / 1024}'

"$literal" 7 "$medium" "$work/literal-out.bmp" 1000000
"$host" --seed 7 "$medium" "$work/job-out.bmp" 1000000 >/dev/null
cmp -s "$work/literal-out.bmp" "$work/job-out.bmp" ||
    { echo "the literal job and the host disagree" >&2; exit 1; }
pair "P2 4096x4096, 1M stars: literal / host" "$runs" fresh \
    -- "$literal" 7 "$medium" "$work/literal-out.bmp" 1000000 \
    -- "$host" --seed 7 "$medium" "$work/job-out.bmp" 1000000
echo "   target at least 5"
rm -f "$work/literal-out.bmp"
/usr/bin/time -f %M -o "$work/rss" "$host" --seed 7 "$medium" "$work/job-out.bmp" 1000000 >/dev/null
awk -v k="$(tail -1 "$work/rss")" \
    'BEGIN {printf "P2 peak resident memory %.1f MiB   (target under 40 MiB)\n", k / 1024}'

# `- -` against an earlier host, where a change to the streams' handling
# should cost at most a tenth; without one, against the same job by name, for
# reference.
filter() { "$1" --seed 7 - - "$3" <"$2" >"$4" 2>/dev/null; }
for stars in 20 1000000; do
    if [ -n "${PELINDRA_BENCH_BASELINE:-}" ]; then
        pair "F 4096x4096, $stars stars, - -: host / baseline" "$runs" fresh \
            -- filter "$host" "$medium" "$stars" "$work/job-out.bmp" \
            -- filter "$PELINDRA_BENCH_BASELINE" "$medium" "$stars" "$work/job-out.bmp"
        echo "   target at most 1.10"
    else
        pair "F 4096x4096, $stars stars: - - / by name" "$runs" fresh \
            -- filter "$host" "$medium" "$stars" "$work/job-out.bmp" \
            -- "$host" --seed 7 "$medium" "$work/job-out.bmp" "$stars"
        echo "   (reference)"
    fi
done
/usr/bin/time -f %M -o "$work/rss" "$host" --seed 7 - "$work/job-out.bmp" 20 <"$medium" >/dev/null
awk -v k="$(tail -1 "$work/rss")" 'BEGIN {printf "F peak resident memory, - from a file %.1f MiB\n", k / 1024}'
cat "$medium" | /usr/bin/time -f %M -o "$work/rss" "$host" --seed 7 - "$work/job-out.bmp" 20 >/dev/null
awk -v k="$(tail -1 "$work/rss")" 'BEGIN {printf "F peak resident memory, - from a pipe %.1f MiB\n", k / 1024}'
cat "$large" | /usr/bin/time -f %M -o "$work/rss" "$host" -q --seed 7 - - 100 >/dev/null
awk -v k="$(tail -1 "$work/rss")" \
    'BEGIN {printf "F peak resident memory, 8192x8192 - - from a pipe %.1f MiB   (target under 40 MiB)\n", k / 1024}'
fresh

# Interleaved repetitions: on a shared machine the memory-bound span
# placement and the cache-bound banded one drift apart from minute to minute.
echo "== P2' drawing alone, a million stars in 4096 x 4096 (pelindra_render_bench, median of 9)"
"$build_dir/bench/pelindra_render_bench" --benchmark_filter='PlaceMillionStars_(Spans|Banded)' \
    --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$work/render.json" >/dev/null 2>&1
python3 - "$work/render.json" <<'PY'
import json, sys
medians = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        name = b["run_name"].replace("BM_PlaceMillionStars_", "").replace("/real_time", "")
        medians[name] = b["real_time"]
for name, time in sorted(medians.items()):
    print(f"   {name:16} {time:8.1f} ms")
for name, time in sorted(medians.items()):
    if name.startswith("Banded") and "Spans" in medians:
        print(f"P2' spans / {name} = {medians['Spans'] / time:.2f}   (target at least 2.5)")
PY

echo "== P3 small image: 50 stars on examples/night-sky.bmp against --version"
python3 "$source_dir/bench/small_image.py" "$host" "$source_dir/examples/night-sky.bmp" "$work" 300

if [ -n "${PELINDRA_WINDOWS_BUILD:-}" ]; then
    windows=$(realpath "$PELINDRA_WINDOWS_BUILD")
    export WINEDEBUG=-all
    wineserver -p 2>/dev/null || true # one server for every run
    wine_path() { winepath -w "$1" 2>/dev/null; }
    win_large=$(wine_path "$large")
    win_job=$(wine_path "$work/job-out.bmp")
    win_cp=$(wine_path "$work/cp-out.bmp")
    wine "$windows/pelindra_copy_file.exe" "$win_large" "$win_cp" # start Wine once
    pair "W Wine x64, 8192x8192, 100 stars: host / CopyFileW" "$runs" fresh \
        -- wine "$windows/pelindra.exe" --seed 1 "$win_large" "$win_job" 100 \
        -- wine "$windows/pelindra_copy_file.exe" "$win_large" "$win_cp"
    echo "   target at most 1.3"
    wineserver -k 2>/dev/null || true
fi
fresh

if [ "${PELINDRA_BENCH_CURVE:-1}" != 0 ]; then
    echo "== curve: host and cp on 8192 x 8192, 3 pairs per star count"
    echo "stars,host_ms,cp_ms,mode" >"$work/curve.csv"
    for stars in 0 10 100 1000 10000 100000 1000000 10000000; do
        pair "   $stars stars: host / cp" 3 fresh \
            -- "$host" --seed 1 "$large" "$work/job-out.bmp" "$stars" \
            -- cp "$large" "$work/cp-out.bmp"
        mode=$("$build_dir/bench/pelindra_drawing_modes" --mode "$large" "$stars")
        echo "$stars,$(awk -v t="$pair_a" 'BEGIN {print t / 1000}'),$(awk -v t="$pair_b" 'BEGIN {print t / 1000}'),$mode" >>"$work/curve.csv"
    done
    fresh
    # Debian's python3-matplotlib belongs to the system's python3, which
    # another python3 earlier in PATH may hide.
    plotter=""
    for python in python3 /usr/bin/python3; do
        if "$python" -c 'import matplotlib' 2>/dev/null; then
            plotter=$python
            break
        fi
    done
    if [ -n "$plotter" ]; then
        "$plotter" "$source_dir/bench/plot_curve.py" "$work/curve.csv" "$work/curve.png" \
            "$("$build_dir/bench/pelindra_drawing_modes" --switch "$large")"
        echo "curve drawn: $work/curve.png"
    else
        echo "curve: $work/curve.csv (python3-matplotlib draws it)"
    fi
fi
probe "after the rows"
