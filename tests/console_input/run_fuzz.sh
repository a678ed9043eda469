#!/usr/bin/env bash
# Runs a libFuzzer target for a bounded time on a scratch copy of the seed
# corpus, so the corpus in the repository never changes. A crash, sanitizer
# report or mismatch fails the run; its input is kept in the artifact folder.
#   run_fuzz.sh <fuzzer> <seed corpus> <artifact folder> <seconds>
set -euo pipefail
fuzzer=$1 seeds=$2 artifacts=$3 seconds=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/console-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$seeds/." "$work/"
mkdir -p "$artifacts"

"$fuzzer" -max_total_time="$seconds" -max_len=256 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work"
