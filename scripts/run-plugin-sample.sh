#!/usr/bin/env bash
# Opens the bundled sample through the plug-in module, as the image editor would: encodes
# data/astronaut.png into a Kavel file, then has plugin-host load KAVEL.8bi, run its viewer
# dialog and write the region it delivers to out/astronaut-plugin.png. Without a display the
# dialog is confirmed with its initial values at once (--accept).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=OFF
mkdir -p "$root/out"
sample="$root/out/astronaut.kvl"
"$root/build/tools/kavel" encode "$root/data/astronaut.png" "$sample"
answer=()
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    answer=(--accept)
fi
"$root/build/host/plugin-host" open "$sample" -o "$root/out/astronaut-plugin.png" "${answer[@]}"
