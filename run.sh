#!/usr/bin/env bash
# Builds Trailsmith when needed and runs it with the given arguments.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAILSMITH_TESTS=OFF >/dev/null
cmake --build "$here/build" --target trailsmith >/dev/null
exec "$here/build/app/trailsmith" "$@"
