#!/usr/bin/env bash
# The include check (scripts/check_includes.sh): the tree as it is passes, and each kind of crossing
# include or misplaced file, put into a copy of the tree, fails with a line naming the file.
# Usage: include_rules_test.sh <source folder>
set -euo pipefail
source_root=$1
check="$source_root/scripts/check_includes.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$check" "$source_root/src" >/dev/null || { echo "the tree as it is breaks its own rules"; exit 1; }

# file to change | line it gets (a file that does not exist yet is made)
cases=(
  'device/serial/usb_id.h|#include "device/wifi/wifi_mode.h"'
  'device/wifi/crc16.h|#include "device/serial/usb_id.h"'
  'device/samples/sample.h|#include "device/serial/usb_id.h"'
  'device/boards/device_status.h|#include "workflows/board_text.h"'
  'device/boards/device_status.h|#include "cloud/api_error.h"'
  'device/wifi/wifi_mode.h|#include "frame/replies.h"'
  'device/stray.h|#include "common/ascii.h"'
  'workflows/board_text.h|#include "workflows/flash/flasher.h"'
  'workflows/flash/flasher.h|#include "workflows/checks/latency_collector.h"'
  'workflows/checks/latency_collector.h|#include "workflows/classification/classify.h"'
  'workflows/collection/sample_file_index.h|#include "workflows/flash/flasher.h"'
  'workflows/unfiled/helper.h|#include "common/ascii.h"'
  'frame/replies.h|#include "cloud/api_error.h"'
  'common/ascii.h|#include "device/samples/sample.h"'
  'cloud/http/session.h|#include "cloud/streaming_uploader.h"'
  'cloud/http/transfer.cpp|#include "cloud/api_client.h"'
  'desktop/app/alerts.cpp|#include "workflows/board_text.h"'
  'desktop/app/alerts.cpp|#include "common/logger.h"'
  'desktop/launcher/app_delegate.cpp|#include "frame/replies.h"'
  'desktop/link/notice_bus.cpp|#include "desktop/app/alerts.h"'
  'desktop/components/logs/log_text.h|#include "device/serial/usb_id.h"'
  'desktop/components/windows/about_panel.cpp|#include "desktop/app/branch_rules.h"'
  'desktop/components/updates/appcast.h|#include "cloud/http/request.h"'
  'desktop/components/stray.h|#include "desktop/components/build_info.h"'
)
cp -r "$source_root/src" "$scratch/src"
for row in "${cases[@]}"; do
  file=${row%%|*}
  target="$scratch/src/$file"
  mkdir -p "$(dirname "$target")"
  [[ -f $target ]] && cp "$target" "$scratch/kept"
  echo "${row#*|}" >>"$target"
  if output=$("$check" "$scratch/src" 2>&1); then
    echo "not caught: ${row#*|} in $file"
    exit 1
  fi
  grep -q "^$file" <<<"$output" || { echo "the failure for $file does not name it: $output"; exit 1; }
  if [[ -f $scratch/kept ]]; then mv "$scratch/kept" "$target"; else rm "$target"; fi
done
echo "include rules ok"
