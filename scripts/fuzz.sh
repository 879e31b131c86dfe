#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each from its seed corpus for a bounded time
# (FUZZ_SECONDS each, 20 by default). New inputs go to a scratch folder, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRH_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz --target fuzz_framing fuzz_request fuzz_calls fuzz_delta
# The calls' dictionary is the contract's method names, as the target lists them.
RH_FUZZ_DICTIONARY=build/fuzz/calls.dict build/fuzz/bin/fuzz_calls
for target in framing request calls delta; do
  dict=()
  [ -f "build/fuzz/$target.dict" ] && dict=(-dict="build/fuzz/$target.dict")
  scratch=build/fuzz/corpus-$target
  mkdir -p "$scratch"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/fuzz/bin/fuzz_$target -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 \
    -print_final_stats=1 "${dict[@]}" "$scratch" "fuzz/corpus/$target"
done
