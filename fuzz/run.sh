#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, each on a fresh working corpus
# seeded from fuzz/corpus/<target>/; fails on the first finding (crash, leak,
# sanitizer report or time-out), leaving the input in <build>/fuzz-work/.
#   bash fuzz/run.sh [build directory, default build-fuzz]
# FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}

for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  target="$build/fuzz/$name"
  work="$build/fuzz-work/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  echo "fuzzing $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/findings/" "$work/corpus" "$seeds" >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "fuzz target $name found a failing input: $(ls "$work/findings")"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/log" | sort -u
  echo "corpus: $(find "$seeds" -type f | wc -l) seeds, $(find "$work/corpus" -type f | wc -l) new inputs"
done
