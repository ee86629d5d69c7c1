#!/usr/bin/env bash
# Fails when a source file includes a header of a layer it must not depend on. The layers and
# what each may include are described in docs/architecture.md; keep the two in step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Folder -> the project folders its files may include (besides its own).
declare -A allowed=(
    [include]=""
    [format]="decode"
    [decode]="format"
    [library]="format decode include"
    [common]=""
    [encode]="decode format common"
    [platform]=""
    [viewer]="platform format decode include host/resource_ids.h"
    [host]="platform viewer format include tools/common common"
    [tools]="include encode format decode common"
    [gimp]="include encode host"
    [gdal]="include encode"
    [python]="include encode"
    [integrations]="include"
)
ours="include common format decode library encode platform viewer host tools gimp gdal python integrations kavel"

status=0
for folder in "${!allowed[@]}"; do
    [[ -d $folder ]] || continue
    while IFS= read -r line; do
        file=${line%%:*}
        target=$(sed -E 's/.*#include *["<]([^">]+)[">].*/\1/' <<< "$line")
        top=${target%%/*}
        [[ $target == */* ]] || continue
        [[ " $ours " == *" $top "* ]] || continue
        [[ $top == kavel ]] && top=include
        [[ $top == "$folder" ]] && continue
        ok=0
        for allow in ${allowed[$folder]}; do
            if [[ $allow == "$top" || $allow == "$target" || $target == "$allow"/* ]]; then ok=1; fi
        done
        # Programs and samples kept beside a layer (screenshots) may use any layer.
        [[ $file == viewer/screenshots/* ]] && ok=1
        if (( ok == 0 )); then
            echo "layer violation: $file includes $target ($folder may include: ${allowed[$folder]:-nothing of ours})"
            status=1
        fi
    done < <(grep -rnE '^\s*#\s*include\s*["<][a-z_]+/' "$folder" --include='*.h' --include='*.hpp' \
                 --include='*.c' --include='*.cpp' || true)
done
(( status == 0 )) && echo "layers: every include points the allowed way"
exit $status
