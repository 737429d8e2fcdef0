#!/usr/bin/env bash
# Short fuzz run for continuous integration: builds the libFuzzer targets with
# clang and runs every target for 60 seconds (CFIT_FUZZ_SECONDS) on its
# corpus, two at a time. Any crash, leak, time-out (over a second per input),
# undefined behaviour or broken expectation fails the run; the failing input
# is kept in <build>/fuzz-artifacts. The committed corpus is only read: new
# inputs go to a scratch folder that is removed afterwards.
# Usage: fuzz/run_short.sh [build-folder]   (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
fi

build="${1:-build-fuzz}"
seconds="${CFIT_FUZZ_SECONDS:-60}"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCFIT_FUZZ=ON -DCFIT_BUILD_TESTS=OFF -DCFIT_BUILD_BENCHMARKS=OFF \
  -DCFIT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" --target fuzz_targets -j2

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs one target in the background; its log goes to $work/<target>.log.
start() {
  local target="$1" dict="$2"
  mkdir -p "$work/$target"
  "$build/fuzz/fuzz_$target" -dict="fuzz/$dict" -timeout=1 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1 &
  pids+=($!)
  names+=("$target")
}

# Waits for the running pair and reports each target's outcome.
finish() {
  local k
  for k in "${!pids[@]}"; do
    if wait "${pids[$k]}"; then
      echo "fuzz_${names[$k]}: $(grep -E '^stat::number_of_executed_units' "$work/${names[$k]}.log" |
        sed 's/.*: *//') inputs, no fault"
    else
      echo "fuzz_${names[$k]} FAILED; its log ends:"
      tail -n 40 "$work/${names[$k]}.log"
      failed=1
    fi
  done
  pids=()
  names=()
}

failed=0
pids=()
names=()
start read_touchstone touchstone.dict
start touchstone_port_count touchstone.dict
finish
start read_poles pls.dict
start poles_port_count pls.dict
finish
if [ "$failed" -ne 0 ]; then
  echo "Failing inputs: $artifacts"
  exit 1
fi
