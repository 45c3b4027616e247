#!/usr/bin/env bash
# Checks the include lines of the service and of the desktop programs against the rules of
# ARCHITECTURE.md: which folder of src/ may include the headers of which. Prints each include that breaks a rule, and fails if there is one.
# Usage: scripts/check_includes.sh [source root, src/ unless told]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$root/src}

# What the files of each folder may include, as regular expressions over the include's path; a folder
# without a rule is an error. The base of the workflows is the files at their root. The desktop
# programs do not link the service's library: of common/ they take only header-only files, named one
# by one, and never a layer of the service.
layers='common/|frame/|cloud/'
workflow_base='workflows/[^/]+$'
desktop_link='common/desktop_link\.h$'
build_info='desktop/components/build_info\.h$'
declare -A rules=(
  [common]='common/'
  [frame]='common/|frame/'
  [cloud]='common/|cloud/'
  [cloud/http]='common/|cloud/http/'
  [device/serial]='common/|device/serial/|device/samples/'
  [device/samples]='common/|device/samples/'
  [device/wifi]='common/|device/wifi/|device/samples/'
  [device/boards]='common/|device/'
  [workflows]="$layers|device/|$workflow_base"
  [workflows/flash]="$layers|device/|$workflow_base|workflows/flash/"
  [workflows/collection]="$layers|device/|$workflow_base|workflows/collection/"
  [workflows/classification]="$layers|device/|$workflow_base|workflows/classification/|workflows/checks/"
  [workflows/checks]="$layers|device/|$workflow_base|workflows/checks/|workflows/flash/"
  [service]="$layers|device/|workflows/"
  [desktop/components/file_events]='common/file_descriptor\.h$|desktop/components/file_events/'
  [desktop/components/logs]='common/file_descriptor\.h$|desktop/components/logs/|desktop/components/file_events/'
  [desktop/components/crash_reports]="$build_info|desktop/components/crash_reports/"
  [desktop/components/updates]="$build_info|desktop/components/updates/|desktop/components/windows/"
  [desktop/components/windows]="$build_info|desktop/components/windows/"
  [desktop/link]="$desktop_link|desktop/link/"
  [desktop/app]="$desktop_link|common/home_folder_expansion\.h$|desktop/link/|desktop/components/|desktop/app/"
  [desktop/launcher]="$desktop_link|desktop/link/|desktop/launcher/"
)
# The registration of every feature's controllers is the one file of the base that includes them.
declare -A file_rules=(
  [workflows/workflow_controllers.cpp]="$layers|device/|workflows/"
)
# The folders of src/ whose headers these rules are about.
checked_prefix='^(common|frame|cloud|device|workflows|service|desktop)/'

broken=0
cd "$src"
files=$(find common frame cloud device workflows service desktop -name '*.h' -o -name '*.cpp' | sort)
for file in $files; do
  folder=${file%/*}
  if [[ -z ${file_rules[$file]:-${rules[$folder]:-}} ]]; then
    echo "$file: no rule covers $folder/ (each folder has a row in ARCHITECTURE.md and a rule here;" \
      "device/ and desktop/components/ hold files only in their sub-folders)"
    broken=1
  fi
done
# Every include line of those files, as file:line:included path.
while IFS=: read -r file line included; do
  folder=${file%/*}
  rule=${file_rules[$file]:-${rules[$folder]:-}}
  if [[ -n $rule && $included =~ $checked_prefix && ! $included =~ ^($rule) ]]; then
    echo "$file:$line: includes \"$included\", which $folder/ may not"
    broken=1
  fi
done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' $files |
           sed 's/^\([^:]*\):\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2:\3/')

if ((broken)); then
  echo "include check: the lines above break the folder rules of ARCHITECTURE.md" >&2
  exit 1
fi
echo "include check: every include keeps to the folder rules"
