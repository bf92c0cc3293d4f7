#!/usr/bin/env bash
# The test command: installs what is missing, builds the default (sanitized) preset, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
ctest --test-dir build --output-on-failure --timeout 300 -j "$(nproc)" "$@"
