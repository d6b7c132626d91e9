#!/bin/sh
# Builds the playground and runs its browser tests in a headless chromium,
# then the HTML report of vexl-grade in the same browser.
# The page's screenshot is left in build-web/playground.png (docs/playground.png
# is a copy of it).
set -e
cd "$(dirname "$0")/.."
. scripts/playground-build.sh
if ! command -v chromium >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends chromium fonts-ipafont-gothic
fi
cd web
node test/playground.test.mjs ../build-web/playground ../examples ../build-web/playground.png
# The grading kit's HTML report in the same browser (with the native build
# of scripts/test.sh; the ctest run there skipped it when chromium was not
# installed yet).
cd ..
if [ -x build/grade/vexl-grade ]; then
  ctest --test-dir build -R '^grade\.html_browser$' --output-on-failure
fi
