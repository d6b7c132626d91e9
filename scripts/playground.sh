#!/bin/sh
# Builds the playground (the compiler, the machine and the page, for the
# browser) into build-web/ and serves it on 127.0.0.1:
#   sh scripts/playground.sh [PORT]      (default 8080; 0 picks a free port)
# Installs what is missing first: emscripten and Node.js from Debian, the
# page's npm packages into web/node_modules.
set -e
cd "$(dirname "$0")/.."
. scripts/playground-build.sh
echo "open build-web/playground/index.html, or:"
exec node web/serve.mjs build-web/playground "${1:-8080}"
