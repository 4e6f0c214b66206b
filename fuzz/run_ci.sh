#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each from its seed corpus for a bounded
# time. Any crash, sanitizer report, leak, timeout or out-of-memory fails the
# script, and the input that caused it is printed (base64 and hex).
#
#   fuzz/run_ci.sh                    # every target, 60 s each
#   fuzz/run_ci.sh -t 300 route       # one target, 300 s
#
# The build runs FERROW_JOBS parallel jobs, by default as many as the machine
# has cores.
#
# Needs clang and libclang-rt-14-dev (or the clang runtime of another version).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=60
build=build-fuzz
while getopts "t:b:" option; do
  case $option in
    t) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-t seconds] [-b build-dir] [target ...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tile_body segment_file profile lookup_table request route)

export CC=${CC:-clang} CXX=${CXX:-clang++}
if ! command -v "$CXX" >/dev/null || [ ! -f "$("$CXX" -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  echo "fuzz/run_ci.sh needs clang with its libFuzzer runtime (Debian: clang libclang-rt-14-dev)" >&2
  exit 1
fi
jobs=${FERROW_JOBS:-$(nproc 2>/dev/null || getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)}
if ! [[ $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz/run_ci.sh: FERROW_JOBS must be a number of parallel build jobs, not '$jobs'" >&2
  exit 2
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROW_FUZZ=ON \
  -DFERROW_BUILD_TESTS=OFF -DFERROW_BUILD_BENCH=OFF >/dev/null || exit 1
# The build's own progress is shown: a fresh build takes minutes.
echo "== building the fuzz targets in $build, $jobs jobs"
cmake --build "$build" --parallel "$jobs" || { echo "fuzz/run_ci.sh: the build failed" >&2; exit 1; }

# The dictionary of a target, when it has one (the route target reads requests too).
dictionary() {
  case $1 in
    route) echo fuzz/request.dict ;;
    *) [ -f "fuzz/$1.dict" ] && echo "fuzz/$1.dict" ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  mkdir "$work/corpus"
  dict=$(dictionary "$target")
  echo "== fuzz_$target: ${seconds} s"
  # The new corpus goes to a scratch directory; the committed seeds stay as they are.
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/" ${dict:+-dict=$dict} "$work/corpus" "fuzz/corpus/$target" >"$work/log" 2>&1
  status=$?
  grep -E "^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb|^Done " "$work/log"
  if [ $status -ne 0 ]; then
    failed+=("$target")
    echo "!! fuzz_$target failed (exit $status):"
    grep -vE "^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)" "$work/log" | tail -80
    for input in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$work"/slow-unit-*; do
      [ -f "$input" ] || continue
      echo "!! input $(basename "$input") ($(stat -c %s "$input") bytes), base64:"
      base64 -w 0 "$input"; echo
      echo "!! hex:"
      od -An -tx1 -v "$input" | head -64
    done
  fi
  rm -rf "$work"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing passed: ${targets[*]}"
