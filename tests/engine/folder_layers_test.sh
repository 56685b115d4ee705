#!/usr/bin/env bash
# The engine's folders form layers: a file includes engine headers of its own folder or of a lower layer,
# never of its own layer's other folders or of a higher one. Prints every include that breaks this.
set -euo pipefail
engine=${1:?usage: folder_layers_test.sh ENGINE_FOLDER}

# Layer of an engine folder ("" is engine/ itself: the face's two objects; the face header is layer 0).
layer_of() {
    case "$1" in
    model_files) echo 1 ;;
    audio | decoders | lexicon) echo 2 ;;
    adaptation | alignment | speakers) echo 3 ;;
    "") echo 4 ;;
    *) echo "unknown engine folder: $1" >&2; return 1 ;;
    esac
}

broken=0
while IFS= read -r -d '' file; do
    rel=${file#"$engine"/}
    from=$(dirname "$rel"); [[ $from == . ]] && from=""
    from_layer=$(layer_of "$from")
    while IFS= read -r header; do
        [[ $header == engine/kelvo_asr.h ]] && continue
        to=$(dirname "${header#engine/}"); [[ $to == . ]] && to=""
        [[ $to == "$from" ]] && continue
        if (($(layer_of "$to") >= from_layer)); then
            echo "engine/$rel includes $header: folder ${to:-engine} is not below ${from:-engine}"
            broken=1
        fi
    done < <(sed -n 's/^#include "\(engine\/[^"]*\)".*/\1/p' "$file")
done < <(find "$engine" -name '*.h' -print0 -o -name '*.cpp' -print0)
if ((broken)); then
    exit 1
fi
echo "engine folders: every include runs to a lower layer"
