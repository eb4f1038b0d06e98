#!/usr/bin/env bash
# Runs one of the live page's browser tests: run_page_test.sh TEST.mjs WORKDIR COLLECT DEMO
# It needs Debian's chromium, node and npm; puppeteer-core (test only) is
# installed once into WORKDIR/node_modules from the lock file beside this
# script. Where the browser or the module cannot be had, the test is skipped
# (exit 77) with the reason, unless MOX_TEST_REQUIRE_BROWSER=1 (CI), where
# that is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
test_script=$1 work=$2
export MOX_COLLECT_BIN=$3 MOX_DEMO_BIN=$4 MOX_PAGE_TEST_DIR=$2

skip() {
  if [ "${MOX_TEST_REQUIRE_BROWSER:-0}" = 1 ]; then
    echo "page test: $* (MOX_TEST_REQUIRE_BROWSER=1: failing instead of skipping)" >&2
    exit 1
  fi
  echo "page test SKIPPED: $*" >&2
  exit 77
}

browser=${MOX_TEST_CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
[ -n "$browser" ] || skip "no chromium (apt-get install chromium)"
command -v node >/dev/null && command -v npm >/dev/null || skip "no node or npm (apt-get install nodejs npm)"
export MOX_TEST_CHROMIUM=$browser

mkdir -p "$work"
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" || [ ! -d "$work/node_modules/puppeteer-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && timeout 300 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) >&2 ||
    { rm -f "$work/package-lock.json"; skip "npm could not install puppeteer-core into $work"; }
fi
# The test's own modules resolve puppeteer-core from the work folder.
cp "$here"/*.mjs "$work/"
exec timeout 90 node "$work/$(basename "$test_script")"
