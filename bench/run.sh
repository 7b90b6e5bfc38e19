#!/usr/bin/env bash
# Builds the benchmarks in Release and runs engine_bench: bench/run.sh [FOLDER] [--keep-data]
# FOLDER is where it generates its data and measures (default: the build folder); it needs about
# 5 GiB free. Run as root so that it can drop the page cache between runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" engine_bench
exec "$build/bench/engine_bench" "$@"
