#!/usr/bin/env bash
# Guards the layers of src/: each folder uses only the folders below it, and every include
# names the folder it comes from. Top first:
#   agent, settings > ivr > recorder > softphone > audio > devicelink > base
# The agent and the settings program stand side by side: neither uses the other.
# Reads every quoted include of every source file under the given folder (default: this
# repository's src/) and names each one that runs to a higher folder, to the folder beside
# it, to a folder not in the order above, or to no folder at all.
#   scripts/check-layers.sh [SRC-FOLDER]
# Exit status: 0 when every include keeps to the order, 1 otherwise, 2 for bad usage.
set -uo pipefail

layers=(agent ivr recorder softphone audio devicelink base)
beside=(settings) # a rank with the first layer's

src="${1:-$(dirname "$0")/../src}"
if [ ! -d "$src" ]; then
    echo "check-layers: no folder $src" >&2
    exit 2
fi
src="$(cd "$src" && pwd)"

rank() { # the layer's place from the top (0), or nothing for a folder not in the order
    local i
    for i in "${beside[@]}"; do
        [ "$i" = "$1" ] && { echo 0; return; }
    done
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
}

faults=0
files=0
while IFS= read -r -d '' file; do
    files=$((files + 1))
    rel="${file#"$src"/}"
    own="${rel%%/*}"
    own_rank="$(rank "$own")"
    if [ -z "$own_rank" ]; then
        echo "src/$rel: the folder $own is not a layer (${layers[*]} ${beside[*]})"
        faults=$((faults + 1))
        continue
    fi
    while IFS=: read -r line target; do
        folder="${target%%/*}"
        if [ "$folder" = "$target" ]; then
            echo "src/$rel:$line: #include \"$target\" names no folder"
        elif [ -z "$(rank "$folder")" ]; then
            echo "src/$rel:$line: #include \"$target\": $folder is not a layer (${layers[*]} ${beside[*]})"
        elif [ "$(rank "$folder")" -lt "$own_rank" ]; then
            echo "src/$rel:$line: #include \"$target\": $folder is above $own"
        elif [ "$(rank "$folder")" = "$own_rank" ] && [ "$folder" != "$own" ]; then
            echo "src/$rel:$line: #include \"$target\": $folder is beside $own"
        else
            continue
        fi
        faults=$((faults + 1))
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) -print0 | sort -z)

if [ "$faults" -gt 0 ]; then
    echo "check-layers: $faults include(s) break the layers (of $files files)"
    exit 1
fi
echo "check-layers: $files files keep to the layers"
