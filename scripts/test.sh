#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test through CTest, builds every
# target again in the Release configuration (-O3, where the optimizer finds
# warnings of its own) and ends with the line "N passed, N failed"
# (", N skipped" when any were skipped); a failed Release build counts as one
# failure.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" || exit 1
build="$top/build/sanitize"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEVURA_SANITIZE=ON >/dev/null || exit 1
cmake --build "$build" || exit 1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
log="$build/ctest.log"
(cd "$build" && ctest -j2 --output-on-failure --timeout 900 "$@") 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

# The status is the word after the dots of each result line.
results=$(sed -nE 's/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: .*[^.]\.+ *(\*\*\*)?([A-Za-z]+).*$/\2/p' "$log")
passed=$(grep -c '^Passed$' <<<"$results")
skipped=$(grep -c '^Skipped$' <<<"$results")
failed=$(grep -vcE '^(Passed|Skipped|)$' <<<"$results")
if [[ $status -ne 0 && $failed -eq 0 ]]; then failed=1; fi

release="$top/build/release"
if ! { cmake -S "$top" -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
       cmake --build "$release"; }; then
  echo "the Release build failed"
  failed=$((failed + 1))
fi
line="$passed passed, $failed failed"
[[ $skipped -gt 0 ]] && line+=", $skipped skipped"
echo "$line"
[[ $failed -eq 0 ]]
