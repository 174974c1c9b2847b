#!/bin/bash
# The longer local run of the fuzz targets of core (tests/fuzz): configures
# build/fuzz with clang and POLVEX_FUZZ=ON, builds the targets and runs each
# for SECONDS (default 60), then prints per target the seconds, executions,
# coverage and crashes from libFuzzer's final statistics.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (targets: all when none given)
#
# POLVEX_FUZZ_JOBS: how many targets run at once (default 1). Each target
# keeps its working corpus in build/fuzz/tests/fuzz/long/TARGET/corpus, so a
# later run goes on from where the last one stopped (remove that directory
# to start afresh); the committed seeds in tests/fuzz/corpus are only read.
# A crash leaves its input in build/fuzz/tests/fuzz/long/TARGET/artifacts.
# Needs clang and its libFuzzer runtime (Debian: clang, libclang-rt-14-dev).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
all_targets=(reply_record site_resolution manifest ticker uninstall tag progress)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
jobs=${POLVEX_FUZZ_JOBS:-1}
build=$root/build/fuzz
long=$build/tests/fuzz/long

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (Debian: apt-get install clang libclang-rt-14-dev)" >&2
  exit 2
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DPOLVEX_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_targets -j "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {  # NAME
  local name=$1 dir=$long/$1
  local dict=$root/tests/fuzz/$name.dict options_file=$root/tests/fuzz/$name.options options=()
  local args=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
              -artifact_prefix="$dir/artifacts/")
  [ -f "$dict" ] && args+=(-dict="$dict")
  [ -f "$options_file" ] && read -ra options <"$options_file" && args+=("${options[@]}")
  mkdir -p "$dir/corpus" "$dir/artifacts"
  local start=$SECONDS status=0
  "$build/tests/fuzz/${name}_fuzz" "${args[@]}" "$dir/corpus" "$root/tests/fuzz/corpus/$name" \
    >"$dir/log" 2>&1 || status=$?
  echo "$status $((SECONDS - start))" >"$dir/result"
}

for name in "${targets[@]}"; do
  [ -x "$build/tests/fuzz/${name}_fuzz" ] || { echo "fuzz.sh: no target $name" >&2; exit 2; }
  rm -f "$long/$name/result"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "fuzzing $name for ${seconds}s"
  run_target "$name" &
done
wait

failed=0
printf '\n%-16s %8s %12s %10s %8s %8s %8s  %s\n' target seconds executions exec/s cov ft corpus result
for name in "${targets[@]}"; do
  dir=$long/$name
  read -r status took <"$dir/result"
  stat() { sed -n "s/^stat::$1: *//p" "$dir/log" | tail -1; }
  last=$(grep -E '^#[0-9]+[[:space:]].*cov: ' "$dir/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(find "$dir/corpus" -type f | wc -l)
  if [ "$status" = 0 ]; then
    result=ok
  else
    result="CRASH: $(ls "$dir"/artifacts/* 2>/dev/null | head -3 | tr '\n' ' ')(log: $dir/log)"
    failed=1
  fi
  printf '%-16s %8s %12s %10s %8s %8s %8s  %s\n' "$name" "$took" "$(stat number_of_executed_units)" \
    "$(stat average_exec_per_sec)" "${cov:-?}" "${ft:-?}" "$corpus" "$result"
done
exit $failed
