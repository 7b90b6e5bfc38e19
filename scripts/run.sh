#!/usr/bin/env bash
# Builds Vantrel and starts it. Arguments are passed to the application.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VANTREL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" --target vantrel
exec "$build/app/vantrel" "$@"
