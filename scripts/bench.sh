#!/usr/bin/env bash
# Builds the release preset and runs benchmarks: every *_bench executable of bench/CMakeLists.txt and
# every bench/*.py script, or only the named ones (bench.sh projection_bench hydration). Each prints
# its figure, an anchor measured in the same run, and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(sed -n 's/^add_executable(\([A-Za-z0-9_]*_bench\).*/\1/p' bench/CMakeLists.txt)
  for script in bench/*.py; do names+=("$(basename "${script%.py}")"); done
fi
bash scripts/build.sh release -j"${NIMBREL_JOBS:-2}"
for name in "${names[@]}"; do
  echo "== $name"
  if [ -f "bench/$name.py" ]; then
    python3 "bench/$name.py" build-release/bin
  elif [ -x "build-release/bin/$name" ]; then
    "build-release/bin/$name"
  else
    echo "bench.sh: no benchmark named $name" >&2
    exit 2
  fi
done
