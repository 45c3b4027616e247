#!/usr/bin/env bash
# Makes the Debian packages of a build (the programs, stripped, and their debugging information in the
# -dbgsym package) and checks them: hardening-check finds every hardening feature in the three programs
# of the package and of the build, lintian finds no error in either package and no hardening tag (its
# warnings and notes are printed), and the tray application unpacked from both into a scratch root
# reports a crash with named frames.
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

# hardening-check on the three programs under `prefix` (the package's root or the build folder), given
# as the paths of brisel_core, the tray application and the launcher below it; prints only what it
# found missing. Control-flow protection is not asked for: the code is compiled with it, but Debian
# 12's startup files (Scrt1.o, crti.o, crtn.o) lack the IBT/SHSTK property, so no program linked there
# carries the marking. Nor fortified functions of the launcher: its only call that fortification could
# check is a memmove inside the containers of the standard library, whose size no compiler knows, so
# it can hold no protected call; it is built with the same flags as the two others, which are checked.
check_hardening() {
  local prefix=$1 core=$2 tray=$3 launcher=$4
  hardening-check --quiet --nocfprotection "$prefix/$core" "$prefix/$tray" &&
    hardening-check --quiet --nocfprotection --nofortify "$prefix/$launcher"
}
echo "== hardening of the programs"
unpacked=$output/unpacked
dpkg-deb -x "$package" "$unpacked"
hardening_status=0
check_hardening "$unpacked" usr/bin/brisel_core "usr/bin/Velko Brisel" usr/libexec/brisel/BriselLaunchHelper ||
  hardening_status=1
check_hardening "$build" src/brisel_core "bin/Velko Brisel" libexec/brisel/BriselLaunchHelper || hardening_status=1
if ((hardening_status != 0)); then
  echo "package: a program lacks a hardening feature (the lines with 'no' above)" >&2
  exit 1
fi

# lintian runs beside the crash case; its lines are printed after it.
lintian --fail-on error -I --tag-display-limit 0 "$package" "$dbgsym" >"$output/lintian.log" 2>&1 &
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
elif grep -q ' hardening-' "$output/lintian.log"; then
  echo "package: lintian found a program without its hardening (the hardening- tags above)" >&2
  lintian_status=1
fi
if ((crash_status != 0)); then
  echo "package: the crash of the packaged tray application was not reported with named frames" >&2
fi
((lintian_status == 0 && crash_status == 0))
