#!/usr/bin/env bash
# Whole-job timing, side by side in one run:
#   1. the host on an 8192 x 8192 image (about 200 MB) with 100 stars against
#      `cp` of the same file, input and output in one directory, page cache
#      warm; median of RUNS runs each, and the host's peak resident memory;
#   2. a million stars in a 4096 x 4096 image, span renderer against the
#      straightforward one (pelindra_render_bench), median of 3;
#   3. the host on examples/night-sky.bmp with 50 stars against the host
#      printing --version, process start to exit, interleaved run by run
#      (bench/small_image.py), to a new output and replacing an old one.
#
# Usage: bench/whole_job.sh [RUNS]   (from anywhere; default 7 runs)
# Environment: PELINDRA_BENCH_DIR  scratch directory (default /tmp/pelindra-bench)
#              PELINDRA_BENCH_SIDE image side for part 1 (default 8192)
# Needs GNU time (/usr/bin/time, Debian package `time`), Google Benchmark and
# python3.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build-bench
runs=${1:-7}
side=${PELINDRA_BENCH_SIDE:-8192}
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

mkdir -p "$work"
input=$work/large.bmp
if [ ! -f "$input" ] || [ "$(stat -c %s "$input")" -ne $((54 + side * side * 3)) ]; then
    echo "== making a ${side} x ${side} image"
    "$build_dir/bench/make_large_bmp" "$side" "$side" "$input"
fi
cat "$input" >/dev/null # warm the page cache

now() { echo "${EPOCHREALTIME/./}"; } # microseconds
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# Each run starts from a missing output and no dirty pages, so neither side
# pays for the other's writeback or for freeing an old output.
fresh() {
    rm -f "$work/cp-out.bmp" "$work/job-out.bmp"
    sync
}

cp_times=()
job_times=()
peak_kib=0
echo "== ${runs} runs each: cp and the host with 100 stars on $(stat -c %s "$input") bytes"
for run in $(seq "$runs"); do
    fresh
    start=$(now)
    cp "$input" "$work/cp-out.bmp"
    cp_times+=($(($(now) - start)))
    fresh
    start=$(now)
    /usr/bin/time -f %M -o "$work/rss" "$host" --seed "$run" "$input" "$work/job-out.bmp" 100 >/dev/null
    job_times+=($(($(now) - start)))
    rss=$(tail -1 "$work/rss")
    [ "$rss" -gt "$peak_kib" ] && peak_kib=$rss
    cmp -s -n 54 "$input" "$work/job-out.bmp" || { echo "headers differ" >&2; exit 1; }
done
fresh
cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
job_median=$(printf '%s\n' "${job_times[@]}" | median)
echo "cp           median $(awk -v t="$cp_median" 'BEGIN {printf "%.1f ms", t / 1000}')   (${cp_times[*]} us)"
echo "host         median $(awk -v t="$job_median" 'BEGIN {printf "%.1f ms", t / 1000}')   (${job_times[*]} us)"
awk -v j="$job_median" -v c="$cp_median" 'BEGIN {printf "large image: host / cp = %.2f   (target at most 1.2)\n", j / c}'
awk -v k="$peak_kib" 'BEGIN {printf "large image: peak resident memory %.1f MiB   (target under 32 MiB)\n", k / 1024}'

echo "== a million stars in 4096 x 4096 (pelindra_render_bench, median of 3)"
"$build_dir/bench/pelindra_render_bench" --benchmark_filter='PlaceMillionStars' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$work/render.json" >/dev/null 2>&1
python3 - "$work/render.json" <<'PY'
import json, sys
medians = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        medians[b["run_name"].split("/")[0]] = (b["real_time"], b["cpu_time"])
spans = medians["BM_PlaceMillionStars_Spans"]
plain = medians["BM_PlaceMillionStars_Straightforward"]
print(f"spans           {spans[0]:8.1f} ms real {spans[1]:8.1f} ms cpu")
print(f"straightforward {plain[0]:8.1f} ms real {plain[1]:8.1f} ms cpu")
print(f"many stars: straightforward / spans = {plain[0] / spans[0]:.2f} real, "
      f"{plain[1] / spans[1]:.2f} cpu   (target at least 3)")
PY

echo "== small image: 50 stars on examples/night-sky.bmp against --version"
python3 "$source_dir/bench/small_image.py" "$host" "$source_dir/examples/night-sky.bmp" "$work" 300
