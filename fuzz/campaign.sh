#!/usr/bin/env bash
# Longer fuzzing on a developer machine: every target for MINUTES, JOBS at a time, each with a
# corpus that persists in fuzz/work/<target> so that runs add up. Findings land in
# fuzz/work/findings/; each one found must be fixed and kept as a regression case in the tests.
# Limits: 1 s an input, 256 MB of memory.
#   fuzz/campaign.sh [MINUTES] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-30}"
jobs="${2:-$(nproc)}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUERN_FUZZ=ON -DQUERN_TESTS=OFF \
  -DQUERN_LAUNCHER=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz

mkdir -p fuzz/work/findings
# The address sanitizer keeps freed memory in quarantine (256 MB by default), which would count
# against the memory limit; a small quarantine leaves the limit to measure the engine.
export ASAN_OPTIONS="quarantine_size_mb=16:${ASAN_OPTIONS:-}"
targets=$(sed -n 's/^for target in \(.*\); do$/\1/p' fuzz/run.sh)
run() {
  local target="$1"
  mkdir -p "fuzz/work/$target"
  build-fuzz/fuzz/${target}_fuzz -max_total_time=$((minutes * 60)) -timeout=1 -rss_limit_mb=256 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="fuzz/work/findings/${target}-" \
    "fuzz/work/$target" "fuzz/corpus/$target" >"fuzz/work/$target.log" 2>&1 || true
  local execs cov
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "fuzz/work/$target.log")
  cov=$(grep -o 'cov: [0-9]*' "fuzz/work/$target.log" | tail -1)
  echo "$target: ${execs:-?} executions, ${cov:-cov: ?}"
}
export -f run
export minutes
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run {}'
ls fuzz/work/findings
