#!/usr/bin/env bash
# Builds the Debian package into build-deb/ (or $1): configured afresh with Debian's own compiler
# and linker flags (hardening included), the program alone without the tests, then cpack.
# Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=${1:-build-deb}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake --fresh -S . -B "$dir" -DCMAKE_BUILD_TYPE=None -DKABINEX_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/kabinex_*.deb
