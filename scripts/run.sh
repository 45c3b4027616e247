#!/usr/bin/env bash
# Sets up, builds and starts Brisel as a user starts it: in a graphical session the tray application
# `Velko Brisel`, which starts the service and shows it in the tray; without one (no DISPLAY or
# WAYLAND_DISPLAY) the service brisel_core alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
cmake -S . -B build/plain -G Ninja -DBRISEL_SANITIZE= >/dev/null
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  cmake --build build/plain -j "$(nproc)" --target desktop_stage
  exec "build/plain/bin/Velko Brisel"
fi
echo "run: no graphical session; starting the service alone"
cmake --build build/plain -j "$(nproc)" --target brisel_core
exec build/plain/src/brisel_core
