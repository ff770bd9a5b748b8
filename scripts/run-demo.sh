#!/usr/bin/env bash
# Installs what is missing, builds Kabinex and starts it on a scratch copy of the demo program
# directory (build/demo-run). The copy keeps your settings between runs; delete it to start over.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" build -DKABINEX_TESTS=OFF

run="$root/build/demo-run"
[ -d "$run" ] || cp -r "$root/demo" "$run"
# The stand-in emulator is a build product: put the current one in place on every run.
install -m 755 "$root/build/mave" "$run/emulator/mave"

cd "$run"
exec "$root/build/kabinex"
