#!/usr/bin/env bash
# Builds QuorlLaunch.exe and every test, then runs all tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

configure_and_build
start_display
ctest --test-dir "$build" --output-on-failure --timeout 180
