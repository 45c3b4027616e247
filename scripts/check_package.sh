#!/usr/bin/env bash
# Makes the Debian packages of a build (the programs, stripped, and their debugging information in the
# -dbgsym package) and checks them: lintian finds no error in either (its warnings are printed), and
# the tray application unpacked from both into a scratch root reports a crash with named frames.
# Usage: scripts/check_package.sh [build folder, build/plain unless told]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/plain}" && pwd)
output=$build/package

echo "== package"
rm -rf "$output"
mkdir -p "$output"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$output" >"$output/cpack.log" 2>&1; then
  cat "$output/cpack.log" >&2
  echo "package: cpack failed (its output is above)" >&2
  exit 1
fi
package=$(find "$output" -maxdepth 1 -name '*.deb' ! -name '*-dbgsym_*')
dbgsym=$(find "$output" -maxdepth 1 -name '*-dbgsym_*.deb')
if [[ -z $package || -z $dbgsym ]]; then
  echo "package: cpack made no package, or no -dbgsym package, in $output" >&2
  exit 1
fi
stat -c '%n: %s bytes' "$package" "$dbgsym"

# lintian runs beside the crash case; its lines are printed after it.
lintian --fail-on error --tag-display-limit 0 "$package" "$dbgsym" >"$output/lintian.log" 2>&1 &
lintian_pid=$!
trap 'kill "$lintian_pid" 2>/dev/null || true' EXIT
echo "== crash of the packaged tray application"
crash_status=0
unshare -rmnpf --mount-proc dbus-run-session -- "$root/tests/desktop/e2e/packaged_crash.py" "$package" "$dbgsym" ||
  crash_status=$?
lintian_status=0
wait "$lintian_pid" || lintian_status=$?
echo "== lintian"
cat "$output/lintian.log"
if ((lintian_status != 0)); then
  echo "package: lintian found errors in the packages (the lines with E: above)" >&2
fi
if ((crash_status != 0)); then
  echo "package: the crash of the packaged tray application was not reported with named frames" >&2
fi
((lintian_status == 0 && crash_status == 0))
