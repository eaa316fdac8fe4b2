#!/usr/bin/env bash
# fuzz.sh [seconds]: builds the libFuzzer targets with clang in build-fuzz/ and runs each
# for a bounded time (the engine's 75 s by default, the IPP decoder's three fifths of it);
# fails when a fuzzer finds a crash, leak or hang.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
seconds=${1:-75}
dir="$top/build-fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DOLVARO_FUZZ=ON -DOLVARO_BENCH=OFF >/dev/null
cmake --build "$dir" --target httpengine_fuzzer ipp_fuzzer

# The corpus grows in a scratch folder; the seeds in the tree stay as they are.
work=$(mktemp -d /tmp/olvaro-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$dir/findings"
cp "$top/tests/httpengine/fuzz/corpus/"* "$work/corpus/"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$dir/tests/httpengine/fuzz/httpengine_fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
  -dict="$top/tests/httpengine/fuzz/http.dict" \
  -rss_limit_mb=2048 -artifact_prefix="$dir/findings/" -print_final_stats=1 "$work/corpus"
echo "fuzz: httpengine_fuzzer ran ${seconds}s without findings"

# The IPP decoder, seeded with the captured messages.
ipp_seconds=$((seconds * 3 / 5))
mkdir -p "$work/ipp"
cp "$top/tests/ipp/data/"*.ipp "$work/ipp/"
"$dir/tests/ipp/fuzz/ipp_fuzzer" -max_total_time="$ipp_seconds" -max_len=16384 -timeout=10 \
  -rss_limit_mb=2048 -artifact_prefix="$dir/findings/" -print_final_stats=1 "$work/ipp"
echo "fuzz: ipp_fuzzer ran ${ipp_seconds}s without findings"
