#!/usr/bin/env bash
# Fails when a C++ file under src/, tests/, bench/, demo/ or fuzz/ differs from
# what clang-format makes of it with the repository's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format-14}
command -v "$format" >/dev/null || { echo "check-format: $format not found" >&2; exit 2; }

folders=()
for folder in src tests bench demo fuzz; do
  [ -d "$folder" ] && folders+=("$folder")
done
find "${folders[@]}" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 "$format" --dry-run --Werror
echo "check-format: all files formatted"
