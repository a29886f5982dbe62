#!/usr/bin/env bash
# Runs fuzz targets one after the other, each for SECONDS on a scratch copy of its seed
# corpus (what the fuzzer adds must not end up in the tree). Fails when any target fails;
# the failing target's log and crash input stay in its scratch directory, which is named.
#
#   run_targets.sh BUILD_DIR SECONDS TARGET...     (TARGET: serial_receive, udp_receive, ...)
set -uo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 BUILD_DIR SECONDS TARGET..." >&2
  exit 2
fi
build=$1
seconds=$2
shift 2
here="$(cd "$(dirname "$0")" && pwd)"

failed=()
for target in "$@"; do
  program="$build/tests/fuzz/fuzz_$target"
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/fuzz-$target-XXXXXX")"
  mkdir "$scratch/corpus"
  cp "$here/corpus/$target"/* "$scratch/corpus/"
  echo "fuzz_$target: ${seconds}s"
  # A single input that takes longer than the time-out counts as a hang.
  if "$program" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
       -artifact_prefix="$scratch/" "$scratch/corpus" >"$scratch/log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/log" | tail -n 1
    rm -rf "$scratch"
  else
    tail -n 40 "$scratch/log"
    echo "fuzz_$target FAILED: log and crash input in $scratch" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
