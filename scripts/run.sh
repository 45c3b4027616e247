#!/usr/bin/env bash
# Sets up, builds and starts Brisel as a user starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
cmake -S . -B build/plain -G Ninja -DBRISEL_SANITIZE= >/dev/null
cmake --build build/plain -j "$(nproc)" --target brisel_core
exec build/plain/src/brisel_core
