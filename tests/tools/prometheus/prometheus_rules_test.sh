#!/usr/bin/env bash
# promtool checks the shipped rules and runs their unit tests.
# Usage: prometheus_rules_test.sh RULES_DIR. Exit 77 (skipped) without promtool.
set -euo pipefail
if ! command -v promtool >/dev/null 2>&1; then
  echo "skipped: promtool is not installed (Debian package prometheus)"
  exit 77
fi
cd "$1"
promtool check rules mox.rules.yml thresholds.yml
promtool test rules mox.rules.test.yml
