#!/usr/bin/env bash
# Builds the release preset and runs benchmarks: the named ones (bench.sh projection_bench ...), or
# every *_bench executable under bench/ when none is named.
set -euo pipefail
cd "$(dirname "$0")/.."
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(sed -n 's/^add_executable(\([A-Za-z0-9_]*_bench\).*/\1/p' bench/CMakeLists.txt)
fi
bash scripts/build.sh release "${names[@]}"
for name in "${names[@]}"; do
  echo "== $name"
  "build-release/bin/$name"
done
