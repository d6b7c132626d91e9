# Sourced by playground.sh and playground-test.sh: installs what the
# browser build needs and builds build-web/playground/.
extra="emscripten"
command -v node >/dev/null 2>&1 || extra="$extra nodejs"
command -v npm >/dev/null 2>&1 || extra="$extra npm"
sh scripts/deps.sh $extra
# emscripten's tools find their Node.js modules here.
export NODE_PATH=/usr/share/nodejs
if [ ! -f web/node_modules/.package-lock.json ] ||
   [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
  (cd web && npm ci --no-audit --no-fund)
fi
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j2 --target playground
