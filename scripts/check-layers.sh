#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own. Layers are the top
# folders, from the bottom up; a file may include its own layer and the layers below it, spelled
# "folder/File.h". Outside ui/ no file includes Qt. tests/, bench/ and fuzz/ stand above every
# layer and are not checked. The build enforces the same rule per library (each exports only its
# own headers); this check is the cheap one that names the offending line.
# The order is stated here only; README.md shows it between its layer-order marks, and the check
# fails when that picture lists other folders or another order.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(evaluator platform base camdef components port plugins comm app textfiles ui tools)

declare -A rank
for i in "${!layers[@]}"; do
    [ -d "${layers[$i]}" ] || { echo "check-layers: no folder ${layers[$i]}/" >&2; exit 1; }
    rank[${layers[$i]}]=$i
done
for above in tests bench fuzz; do rank[$above]=${#layers[@]}; done

status=0
while IFS=: read -r file line text; do
    own=${file%%/*}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([a-z_]+)/ ]]; then
        to=${BASH_REMATCH[1]}
        [ -n "${rank[$to]+set}" ] || continue
        if [ "${rank[$to]}" -gt "${rank[$own]}" ]; then
            echo "$file:$line: $own/ includes $to/, a layer above it: $text" >&2
            status=1
        fi
    elif [ "$own" != ui ] && [[ $text =~ \#[[:space:]]*include[[:space:]]*\<Q[A-Za-z]* ]]; then
        echo "$file:$line: Qt outside ui/: $text" >&2
        status=1
    fi
done < <(grep -rnE --include='*.h' --include='*.hpp' --include='*.c' --include='*.cpp' \
    '^[[:space:]]*#[[:space:]]*include[[:space:]]*("[a-z_]+/|<Q)' "${layers[@]}")

# The picture in README.md: one folder per line, top layer first.
picture=$(sed -n '/<!-- layer-order -->/,/<!-- \/layer-order -->/p' README.md |
    sed -n 's#^ *\([a-z_]*\)/.*#\1#p' | tac | paste -sd ' ' -)
if [ "$picture" != "${layers[*]}" ]; then
    echo "check-layers: README.md's layer picture (bottom up: '$picture') differs from" \
         "'${layers[*]}'" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "check-layers: ok (${layers[*]})"
exit "$status"
