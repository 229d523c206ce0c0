#!/usr/bin/env bash
# Builds the Debian package vyrtranscode_<version>_amd64.deb from a build folder (default
# build/; configured and built when needed) into <build folder>/package/ and prints its
# path. Its dependencies are worked out by dpkg-shlibdeps from the binaries.
#
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
# A package is made of an ordinary build with the desktop program.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [ -n "$(cache_value VYR_SANITIZE)" ] || [ "$(cache_value VYR_BUILD_FUZZ)" = ON ]; then
  echo "package: $build is a sanitizer or fuzz build; package an ordinary one" >&2
  exit 1
fi
if [ "$(cache_value VYR_BUILD_GUI)" = OFF ]; then
  echo "package: $build is built without the desktop program" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" >&2
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/package.log" 2>&1 || {
  cat "$build/package.log" >&2
  exit 1
}
deb=("$build"/package/vyrtranscode_*.deb)
[ -f "${deb[0]}" ] || { cat "$build/package.log" >&2; echo "package: no .deb was made" >&2; exit 1; }
echo "${deb[0]}"
