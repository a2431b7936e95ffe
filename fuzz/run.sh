#!/bin/sh
# Runs every fuzz target for a bounded time, each from a scratch copy of its
# checked-in corpus, so that what a run learns never lands in the tree.
#
#   fuzz/run.sh [seconds-per-target] [build-dir]
#
# The targets must be built already (preset "fuzz": build/fuzz). Exits
# non-zero when a target fails or is missing; a failing target's log and
# the input that broke it are kept and their place is printed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-30}
build=${2:-$here/../build/fuzz}
targets="code_page key_decoder first_field command_tail writer"

case $seconds in
  ''|*[!0-9]*) echo "usage: $0 [seconds-per-target] [build-dir]" >&2; exit 2 ;;
esac

failed=0
for target in $targets; do
  binary=$build/fuzz/${target}_fuzz
  if [ ! -x "$binary" ]; then
    echo "$target: FAILED, no $binary (build the fuzz preset first)"
    failed=1
    continue
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/op-fuzz-$target.XXXXXX")
  mkdir "$work/corpus" "$work/artifacts"
  cp "$here/corpus/$target"/* "$work/corpus/"
  # The writer echoes every bit on the console, so its time grows with the
  # text: a thousand bits already scroll through every layout, and the few
  # inputs that fill more than one write are run less often than the rest.
  case $target in
    writer) options="-max_len=1024 -entropic_scale_per_exec_time=1" ;;
    *) options="-max_len=4096" ;;
  esac
  # shellcheck disable=SC2086 # $options is a list of flags
  "$binary" "$work/corpus" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=10 $options -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
    echo "$target: ok, $runs executions in ${seconds}s"
    rm -rf "$work"
  else
    echo "$target: FAILED (exit $status), ${runs:-unknown} executions; log $work/log, input in $work/artifacts/"
    grep -m 1 -E '^(==[0-9]+== ?ERROR|SUMMARY|.*check failed)' "$work/log" | sed 's/^/  /'
    failed=1
  fi
done
exit $failed
