#!/usr/bin/env bash
# Non-blank lines of tests/ against every other tracked source line, and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { xargs -r grep -hcv '^[[:space:]]*$' | awk '{ s += $1 } END { print s + 0 }'; }
sources='\.(c|cc|cpp|h|hpp|rc|cmake|sh|py|nsi)$|(^|/)CMakeLists\.txt$'
tests=$(git ls-files tests | grep -E "$sources" | count)
rest=$(git ls-files | grep -v '^tests/' | grep -E "$sources" | count)
echo "tests/: $tests non-blank lines; everything else: $rest; tests are $((100 * tests / rest))% of the rest"
