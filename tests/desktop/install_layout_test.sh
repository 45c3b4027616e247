#!/usr/bin/env bash
# The installed layout: installs the build into a temporary prefix with a blank in its path, checks
# that the programs sit where the application and the launcher look for each other and that the manual
# pages and the package's documents are there, and validates the application-menu entry.
# Usage: install_layout_test.sh <build folder>
set -euo pipefail
build=$1
prefix_root=$(mktemp -d)
trap 'rm -rf "$prefix_root"' EXIT
prefix="$prefix_root/opt/Velko Brisel"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in "bin/Velko Brisel" bin/brisel_core libexec/brisel/BriselLaunchHelper; do
  [[ -x "$prefix/$file" ]] || { echo "missing program $file"; exit 1; }
done
for file in share/applications/velko-brisel.desktop share/icons/hicolor/scalable/apps/velko-brisel.svg \
            lib/udev/rules.d/60-brisel-boards.rules share/man/man1/brisel_core.1.gz \
            "share/man/man1/Velko Brisel.1.gz" share/doc/velko-brisel/changelog.gz \
            share/doc/velko-brisel/copyright; do
  [[ -f "$prefix/$file" ]] || { echo "missing file $file"; exit 1; }
done
entry="$prefix/share/applications/velko-brisel.desktop"
desktop-file-validate "$entry"
grep -qxF "Exec=\"$prefix/bin/Velko Brisel\"" "$entry" || { echo "wrong Exec line"; cat "$entry"; exit 1; }
echo "install layout ok"
