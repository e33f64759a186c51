#!/usr/bin/env bash
# Fails when a source file of the tree does not match .clang-format; lists the files that differ.
#   scripts/check_format.sh [CLANG_FORMAT]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
format="${1:-clang-format}"
mapfile -t files < <(find engine zip app tests fuzz bench -path fuzz/corpus -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
  printf 'not in the code format (clang-format -i FILE): %s\n' "${bad[@]}"
  exit 1
fi
echo "format: ${#files[@]} files ok"
