#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test
# suite, then every fuzz target for a short bounded time. Run by test.sh;
# exits non-zero when any of them failed.
#
# TARVO_FUZZ_SECONDS sets the time per fuzz target (default 20). A failing
# test does not stop the fuzz runs; the script fails at the end.
set -euo pipefail
TARVO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$TARVO_ROOT/build-asan
FUZZ_SECONDS=${TARVO_FUZZ_SECONDS:-20}
FUZZ_DIR=$TARVO_ROOT/tests/fuzz
started=$SECONDS

stage() { echo "== sanitize: $* ($((SECONDS - started)) s)"; }

stage "configure and build $BUILD"
CC=clang CXX=clang++ cmake -S "$TARVO_ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTARVO_SANITIZE=ON -DTARVO_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

# Qt itself is not instrumented, yet its allocations are watched too: the
# suite runs leak-free without any suppressions.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
stage "test suite under the sanitizers"
ctest --test-dir "$BUILD" --output-on-failure -j2 -LE package || failed+=(ctest)

# Each target mutates a copy of its seed corpus, so the repository is left
# as it is; a failing input is kept in the build folder for a re-run:
#   build-asan/bin/<target> build-asan/fuzz-failures/<target>/crash-...
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in fuzz_packet fuzz_line fuzz_control; do
  stage "fuzzing $target for $FUZZ_SECONDS s"
  mkdir -p "$work/$target/corpus" "$work/$target/found"
  cp "$FUZZ_DIR/corpus/$target/"* "$work/$target/corpus/"
  args=(-max_total_time="$FUZZ_SECONDS" -timeout=10 -print_final_stats=1
        -artifact_prefix="$work/$target/found/")
  [ -f "$FUZZ_DIR/$target.dict" ] && args+=(-dict="$FUZZ_DIR/$target.dict")
  # Lines longer than the line buffer need room.
  [ "$target" = fuzz_line ] && args+=(-max_len=12000)
  # Room for lines past the control channel's small limits.
  [ "$target" = fuzz_control ] && args+=(-max_len=4096)
  if TMPDIR=$work/$target "$BUILD/bin/$target" "${args[@]}" "$work/$target/corpus" \
       >"$work/$target/log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$work/$target/log" || true
  else
    tail -n 60 "$work/$target/log"
    mkdir -p "$BUILD/fuzz-failures/$target"
    cp "$work/$target/found/"* "$BUILD/fuzz-failures/$target/" 2>/dev/null || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "sanitize: failed: ${failed[*]} (failing fuzz inputs in $BUILD/fuzz-failures)" >&2
  exit 1
fi
stage "done"
