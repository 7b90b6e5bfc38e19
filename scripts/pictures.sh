#!/usr/bin/env bash
# Builds the pictures program and writes the README's pictures into docs/ (or the folder given).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VANTREL_BUILD_DIR:-$root/build}"
out="$(realpath -m "${1:-$root/docs}")"

bash "$root/scripts/build.sh" --target readme_pictures
QT_QPA_PLATFORM=offscreen "$build/tests/app/readme_pictures" "$out"
