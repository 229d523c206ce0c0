#!/usr/bin/env bash
# Builds with a sanitizer (clang) into a folder of its own and runs the tests under it.
#
#   scripts/sanitize.sh address   ./build-asan: AddressSanitizer, UndefinedBehaviorSanitizer
#                                 (every finding fatal) and LeakSanitizer over the whole test
#                                 suite, the desktop program's window and queue included. The
#                                 fuzz targets are built in the same folder, so that
#                                 `VYR_FUZZ_BUILD=build-asan scripts/fuzz.sh` needs no build
#                                 of its own.
#   scripts/sanitize.sh thread    ./build-tsan: ThreadSanitizer over the threaded core: the
#                                 conversion worker and task, the segment transcoder's
#                                 pool and its encoder budget, the MP4 task body and
#                                 vyrconvert's path end to end (a TSan-built vyrconvert,
#                                 killed mid-file too). Built without Qt, whose libraries are
#                                 not made for ThreadSanitizer.
#
# Extra arguments are passed to ctest (e.g. -R RecordToMp4).
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-}"
shift || true
root=$(pwd)
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
jobs="$(nproc)"

# The suppressions cover libx265 only (its own leaks; races inside its thread pool), nothing else.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen

# -O1 and line tables only: reports still name file and line, and the build is a good deal
# cheaper than with full debug information.
configure() {  # configure FOLDER OPTIONS...
  local dir="$1" flags="-O1 -gline-tables-only -DNDEBUG"; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" \
      -DVYR_BUILD_BENCH=OFF -DVYR_BUILD_TESTS=ON "$@"
  fi
}

case "$kind" in
  address)
    configure build-asan -DVYR_SANITIZE=address -DVYR_BUILD_FUZZ=ON
    cmake --build build-asan -j "$jobs"
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900 "$@"
    ;;
  thread)
    configure build-tsan -DVYR_SANITIZE=thread -DVYR_BUILD_GUI=OFF
    cmake --build build-tsan -j "$jobs" --target vyrconvert test_record_to_mp4 \
      test_vyrconvert_e2e test_kill_safety test_segment_transcoder test_parallel_conversion
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 900 \
      -R '^(RecordToMp4Test|VyrconvertE2E|KillSafety|SegmentTranscoder|ParallelConversion)\.' \
      --no-tests=error "$@"
    ;;
  *)
    echo "usage: scripts/sanitize.sh address|thread [ctest arguments...]" >&2
    exit 2
    ;;
esac
