#!/usr/bin/env bash
# Configures (CMake + Ninja) and builds into build/ (or the preset's folder). Usage: build.sh [preset] [ninja targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
shift || true
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -- "$@"
