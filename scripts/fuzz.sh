#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# into ./build-fuzz and runs each for SECONDS (default 60), seeded with the sample
# recordings and the kept regression inputs. A crash leaves its input in build-fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVYR_BUILD_FUZZ=ON -DVYR_BUILD_TESTS=OFF -DVYR_BUILD_BENCH=OFF -DVYR_SANITIZE=address
fi
cmake --build build-fuzz -j "$(nproc)" --target fuzzers
mkdir -p build-fuzz/crashes
status=0
for fuzzer in build-fuzz/bin/fuzz_*; do
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz_regressions/$name" ] && seeds+=("tests/fuzz_regressions/$name")
  [ -d "tests/fuzz_seeds/$name" ] && seeds+=("tests/fuzz_seeds/$name")
  echo "fuzz: $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=262144 -timeout=20 -rss_limit_mb=2048 \
       -artifact_prefix="build-fuzz/crashes/$name-" "$corpus" "${seeds[@]}" >"build-fuzz/$name.log" 2>&1; then
    echo "fuzz: $name FAILED, see build-fuzz/$name.log"; tail -30 "build-fuzz/$name.log"; status=1
  else
    grep -E '^Done|stat::' "build-fuzz/$name.log" | tail -1
  fi
done
exit $status
