#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) into build/fuzz, replays
# every file of fuzz/regressions/<target>/, then fuzzes each target for the
# given number of seconds, starting from the seeds that fuzz/make_seeds.py
# writes and from the corpus that earlier runs left in build/fuzz/corpus.
# Exits non-zero on any finding (crash, sanitizer report, failed check, leak,
# timeout); new findings are written to build/fuzz/findings/<target>/.
#
#   fuzz/run.sh 30                 # 30 s per target, one target at a time
#   QUARN_FUZZ_JOBS=2 fuzz/run.sh 600
#   fuzz/run.sh 60 fuzz_json       # only some targets
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:?usage: fuzz/run.sh SECONDS [TARGET...]}"
shift
jobs="${QUARN_FUZZ_JOBS:-1}"

# clang, and compiler-rt with libFuzzer and the sanitizer runtimes.
need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
if command -v clang++ >/dev/null 2>&1; then
  [ -e "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ] || need+=(libclang-rt-dev)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  $sudo apt-get install -y "${need[@]}"
  if [ ! -e "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
    $sudo apt-get install -y libclang-rt-dev
  fi
fi

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DQUARN_FUZZ=ON -DQUARN_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j 2 >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

rm -rf "$build/seeds"
python3 fuzz/make_seeds.py "$build/seeds" >/dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
declare -A result

# Every regression file must pass.
for t in "${targets[@]}"; do
  files=()
  if [ -d "fuzz/regressions/$t" ]; then
    for f in "fuzz/regressions/$t"/*; do [ -f "$f" ] && files+=("$f"); done
  fi
  if [ ${#files[@]} -gt 0 ]; then
    if "$build/fuzz/$t" "${files[@]}" >"$build/$t.replay.log" 2>&1; then
      echo "$t: ${#files[@]} regression files pass"
    else
      echo "$t: a regression file fails:"
      tail -n 40 "$build/$t.replay.log"
      status=1
    fi
  fi
done

fuzz_one() {
  local t="$1" rc=0
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" "$build/seeds/$t" \
    >"$build/$t.log" 2>&1 || rc=$?
  echo "$rc" >"$build/$t.rc"
}

running=0
for t in "${targets[@]}"; do
  rm -f "$build/$t.rc"
  fuzz_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
for t in "${targets[@]}"; do
  if [ "$(cat "$build/$t.rc" 2>/dev/null)" = 0 ]; then result[$t]=ok; else result[$t]=FINDING; status=1; fi
done

printf '\n%-18s %-8s %12s %8s %8s %8s\n' target result executions cov ft corpus
for t in "${targets[@]}"; do
  log="$build/$t.log"
  line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)"
  execs="$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)"
  cov="$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$line")"
  ft="$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$line")"
  corpus="$(find "$build/corpus/$t" -type f | wc -l)"
  printf '%-18s %-8s %12s %8s %8s %8s\n' "$t" "${result[$t]}" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus"
  if [ "${result[$t]}" != ok ]; then
    grep -E 'ERROR|fuzz check failed|runtime error|Test unit written' "$log" | head -n 5 | sed 's/^/    /'
  fi
done
exit "$status"
