#!/bin/sh
# Installs what is missing, builds with warnings as errors and runs every test.
# Tests that need root (network namespaces, the router lab) skip with a message when not root.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KC_BUILD_DIR:-$root/build}"

"$root/tools/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
