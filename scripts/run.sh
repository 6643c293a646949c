#!/usr/bin/env bash
# Installs what is missing, builds the Release configuration and starts the
# catalog builder with the given arguments.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tornip
exec "$build/app/tornip" "$@"
