#!/usr/bin/env bash
# Runs the libFuzzer programs of the fuzz build (build-fuzz/bin/fuzz_*).
#   scripts/fuzz.sh SECONDS PARALLEL [TARGET...]
# Each target runs for SECONDS from the committed seeds and regressions
# (tests/fuzz/corpus/<target>, tests/fuzz/regressions/<target>); inputs it
# finds new go to build-fuzz/fuzz-work/<target>/corpus, crashes, hangs, leaks
# and allocations over the limit to build-fuzz/fuzz-work/<target>/artifacts,
# its output to build-fuzz/fuzz-work/<target>/log (libFuzzer and sanitizer
# reports; the readers' own messages on stderr are dropped). At most
# PARALLEL targets run at once.
# Inputs run in a child process (libFuzzer's fork mode), so that a timeout,
# which a loaded machine can cause, does not end the run; each timeout is
# replayed alone at the end, and only one that still takes 5 s of
# processor time counts.
# Fails when a target crashed, leaked, went over the memory limit or hung.
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
  rm -f "$work"/artifacts/*
  echo "fuzz: $name for ${seconds}s"
  nice build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -timeout=5 -malloc_limit_mb=512 \
    -fork=1 -ignore_timeouts=1 -ignore_ooms=0 -ignore_crashes=0 -close_fd_mask=2 -artifact_prefix="$work/artifacts/" \
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
  runs=$(grep -oE '^#[0-9]+' "$work/log" | tail -1 | tr -d '#')
  echo "fuzz: $name: ${runs:-?} executions"
  for f in "$work"/artifacts/*; do
    [ -f "$f" ] || continue
    if [ "${f##*/}" != "${f##*/timeout-}" ]; then
      # Processor time, which the machine's load does not stretch.
      cpu=$( { TIMEFORMAT='%3U %3S'; time build-fuzz/bin/fuzz_"$name" -timeout=120 "$f" >/dev/null 2>&1; } 2>&1 |
             awk '{ printf "%d", ($1 + $2) * 1000 }')
      echo "  $f: replays in ${cpu:-?} ms of processor time"
      if [ -z "$cpu" ] || [ "$cpu" -ge 5000 ]; then status=1; fi
    else
      echo "  $f"
      status=1
    fi
  done
done
exit $status
