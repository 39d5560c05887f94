#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 into build-fuzz/ (address
# sanitizer on) and runs each for a bounded time on its seed corpus.
#   scripts/fuzz.sh            FUZZ_SECONDS (default 60) per target
#   FUZZ_SECONDS=10 scripts/fuzz.sh
# Findings are written to build-fuzz/findings/; the script fails when a
# target fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-fuzz
seconds=${FUZZ_SECONDS:-60}

packages=(clang-14 libclang-rt-14-dev libfuzzer-14-dev)
source "$here/scripts/install-missing.sh"
install_missing "${packages[@]}"

# `make fuzz` runs the ordinary set-up first, which installs everything else.
CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRELLE_SANITIZE=address -DTAVRELLE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target option_text_fuzzer task_records_fuzzer \
  media_convert_fuzzer tavrelle-mkmedia

# Media seeds are generated, tiny, and never committed.
media=$build/corpus/media
if [[ ! -d $media ]]; then
  mkdir -p "$media"
  for kind in avi mp4 mkv ts wav mp3 mpeg-ps flac; do
    "$build/bin/tavrelle-mkmedia" "$kind" "$media/seed-$kind" --duration 0.3 --size 64x48 \
      --sample-rate 22050 --channels 1
  done
  # The Vorbis encoder wants more than one channel at this length.
  "$build/bin/tavrelle-mkmedia" ogg "$media/seed-ogg" --duration 0.3 --size 64x48
fi

findings=$build/findings
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0

run() {  # name corpus [fuzzer flags...]
  local name=$1 seeds=$2
  shift 2
  local corpus=$build/corpus/run-$name
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s"
  (cd "$work" && "$build/bin/$name" "$corpus" "$seeds" -max_total_time="$seconds" \
    -artifact_prefix="$findings/$name-" -print_final_stats=1 "$@" </dev/null \
    >"$build/$name.log" 2>&1) || { tail -40 "$build/$name.log"; return 1; }
  grep -E '^stat::number_of_executed_units|^#.*DONE' "$build/$name.log" | tail -2
}

status=0
run option_text_fuzzer "$here/fuzz/corpus/options" -dict="$here/fuzz/options.dict" \
  -max_len=512 -timeout=20 || status=1
run task_records_fuzzer "$here/fuzz/corpus/records" -dict="$here/fuzz/options.dict" \
  -max_len=512 -timeout=20 || status=1
run media_convert_fuzzer "$media" -max_len=65536 -timeout=60 -rss_limit_mb=4096 || status=1
exit $status
