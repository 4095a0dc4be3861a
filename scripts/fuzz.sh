#!/usr/bin/env bash
# Runs the libFuzzer programs of the fuzz build (build-fuzz/bin/fuzz_*).
#   scripts/fuzz.sh SECONDS PARALLEL [TARGET...]
# Each target runs for SECONDS from the committed seeds and regressions
# (tests/fuzz/corpus/<target>, tests/fuzz/regressions/<target>); inputs it
# finds new go to build-fuzz/fuzz-work/<target>/corpus, crashes, hangs and
# leaks to build-fuzz/fuzz-work/<target>/artifacts, its output to
# build-fuzz/fuzz-work/<target>/log (libFuzzer and sanitizer reports; the
# readers' own messages on stderr are dropped). At most PARALLEL targets run
# at once.
# Fails when any target left an artifact.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
parallel=${2:-1}
shift 2 || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for b in build-fuzz/bin/fuzz_*; do
    [ -x "$b" ] && targets+=("${b##*/fuzz_}")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz programs in build-fuzz/bin" >&2
  exit 1
fi

run_one() {
  local name=$1 work=build-fuzz/fuzz-work/$1
  mkdir -p "$work/corpus" "$work/artifacts" "tests/fuzz/regressions/$name"
  echo "fuzz: $name for ${seconds}s"
  nice build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -timeout=5 -malloc_limit_mb=512 \
    -print_final_stats=1 -close_fd_mask=2 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "tests/fuzz/corpus/$name" "tests/fuzz/regressions/$name" >"$work/log" 2>&1
}

for name in "${targets[@]}"; do
  if [ ! -x "build-fuzz/bin/fuzz_$name" ]; then
    echo "fuzz: no program build-fuzz/bin/fuzz_$name" >&2
    exit 1
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
  run_one "$name" &
done
wait

status=0
for name in "${targets[@]}"; do
  work=build-fuzz/fuzz-work/$name
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | tail -1 | grep -o '[0-9]*$')
  found=$(find "$work/artifacts" -type f | wc -l)
  echo "fuzz: $name: ${runs:-?} executions, $found findings"
  if [ "$found" -ne 0 ]; then
    find "$work/artifacts" -type f | sed 's/^/  /'
    status=1
  fi
done
exit $status
