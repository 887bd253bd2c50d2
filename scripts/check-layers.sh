#!/usr/bin/env bash
# Fails when a file includes a header from a folder above its own, when the
# GL-free layers (resources/, scene/, particles/, playback/, lint/) include a
# GL header or call a GL function, or when a file of a layer declares outside
# the project namespace. Prints every offending line as FILE:LINE: what.
#
# The layers, lowest first: a folder may include its own headers and those of
# the folders before it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

LAYERS=(platform resources scene particles playback render lint app tools)
GL_FREE=(resources scene particles playback lint)

rank() {
    local i
    for i in "${!LAYERS[@]}"; do
        if [ "${LAYERS[$i]}" = "$1" ]; then echo "$i"; return; fi
    done
    echo -1
}

failed=0
for folder in "${LAYERS[@]}"; do
    own=$(rank "$folder")
    while IFS= read -r -d '' file; do
        while IFS=: read -r line text; do
            header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$text")
            target=${header%%/*}
            [ "$target" = "$header" ] && continue
            other=$(rank "$target")
            if [ "$other" -gt "$own" ]; then
                echo "$file:$line: $folder/ includes $header from $target/, a layer above it"
                failed=1
            fi
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
        for gl_free in "${GL_FREE[@]}"; do
            [ "$folder" = "$gl_free" ] || continue
            while IFS=: read -r line text; do
                echo "$file:$line: $folder/ makes no GL calls, but includes$(sed -E "s/^[^<]*/ /" <<<"$text")"
                failed=1
            done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(GL/|SDL.*opengl|glew)' "$file" || true)
            while IFS=: read -r line text; do
                echo "$file:$line: $folder/ makes no GL calls, but calls $(grep -oE '\bgl[A-Z][A-Za-z0-9]*' <<<"$text" | head -n 1)"
                failed=1
            done < <(grep -nE '\bgl[A-Z][A-Za-z0-9]*\(' "$file" || true)
        done
    done < <(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
done

# Every declaration of the layers lives in the project namespace; a file
# with a `main` only uses it.
while IFS= read -r -d '' file; do
    grep -qE '^(namespace caldera \{|using namespace caldera;)' "$file" && continue
    grep -qE '^[[:space:]]*(#|//|$)' "$file" && ! grep -qvE '^[[:space:]]*(#|//|$)' "$file" && continue
    echo "$file: declares nothing in namespace caldera"
    failed=1
done < <(for folder in "${LAYERS[@]}"; do find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0; done | sort -z)

if [ "$failed" -ne 0 ]; then
    echo "Layer check failed: dependencies must point down ${LAYERS[*]}; resources/, scene/, particles/, playback/ and lint/ use no GL; every declaration lives in namespace caldera" >&2
    exit 1
fi
echo "Layer check passed: ${LAYERS[*]}"
