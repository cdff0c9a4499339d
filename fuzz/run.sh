#!/usr/bin/env bash
# Builds the fuzz target (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs it for a
# bounded time with a fixed seed: fuzz/run.sh [seconds, default 120]. It starts from the seeds
# here, the examples and ../shared/corpus when present; what it learns stays in build/fuzz/corpus
# for the next run. A crash fails the run and prints the input that caused it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup.sh"

seconds=${1:-120}
install_missing clang libclang-rt-14-dev
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel "$(nproc 2>/dev/null || echo 2)"

work=build/fuzz/corpus
artifacts=build/fuzz/artifacts
rm -rf "$artifacts"
mkdir -p "$work" "$artifacts"
seeds=(fuzz/seeds examples)
[ -d ../shared/corpus ] && seeds+=(../shared/corpus)
log=build/fuzz/last-run.log

echo "Fuzzing for $seconds s..."
if build/fuzz/fuzz/fuzz_split -seed=1 -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -max_len=150000 -dict=fuzz/vcard.dict -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "${seeds[@]}" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log"
    echo "Fuzzing found no fault."
    exit 0
fi
tail -n 80 "$log"
for input in "$artifacts"/*; do
    [ -e "$input" ] || continue
    echo "Input that breaks the target, $input:"
    od -A d -t x1z -v "$input" | head -n 200
    echo "Reproduce with: build/fuzz/fuzz/fuzz_split $input"
done
exit 1
