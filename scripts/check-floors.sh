#!/usr/bin/env bash
# Fails when a file of a folder includes a header of a folder on the same floor
# or above it: the program is built in floors, and a folder uses only the
# folders below it (and itself).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

floor() {
    case "$1" in
        base|resources) echo 0 ;;
        services) echo 1 ;;
        settings|picture|package) echo 2 ;;
        update) echo 3 ;;
        shell|tools) echo 4 ;;
        *) echo "" ;;
    esac
}

bad=0
for dir in base resources services settings picture package update shell tools; do
    mine=$(floor "$dir")
    while IFS=: read -r file _ header; do
        used=${header%%/*}
        [ "$used" = "$dir" ] && continue
        theirs=$(floor "$used")
        [ -z "$theirs" ] && continue
        if [ "$theirs" -ge "$mine" ]; then
            echo "$file includes $header, which is not on a floor below $dir/" >&2
            bad=1
        fi
    done < <(grep -HnoE '#[[:space:]]*include[[:space:]]*"[a-z]+/[^"]+"' -r "$dir" --include='*.h' --include='*.cpp' --include='*.rc' \
        | sed -E 's/#[[:space:]]*include[[:space:]]*"([^"]+)"/\1/')
done
[ "$bad" -eq 0 ] && echo "floors: every include points to a lower floor"
exit "$bad"
