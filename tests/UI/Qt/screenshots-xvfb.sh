#!/usr/bin/env bash
# The widget tests that write pictures, on the real platform: Qt's xcb on a private Xvfb. The pictures
# land in PICTURE-DIR.
#
#   screenshots-xvfb.sh UIQT-TESTS SOURCE-TREE PICTURE-DIR
# Exit status 77 (skipped) where Xvfb is missing.
set -euo pipefail
command -v Xvfb >/dev/null || { echo "skipped: Xvfb is not installed"; exit 77; }
tests=$1
REPO=$2
source "$REPO/scripts/session-steps.sh"
session_begin
start_private_xvfb
QT_QPA_PLATFORM=xcb PELKOR_SCREENSHOT_DIR=$3 "$tests" --gtest_filter='MainWindowTest.*:CastingControlsTest.*:WindowPickerWidgetTest.*:QtKeyboardMonitorTest.*'
