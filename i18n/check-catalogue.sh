#!/usr/bin/env bash
# Fails when a text the operator reads has no German: runs lupdate over the current sources into
# a copy of the catalogue and lists every text that comes out new, unfinished, empty or gone.
# Usage: check-catalogue.sh LUPDATE CATALOGUE.ts SOURCE-LIST [LUPDATE OPTIONS...]
set -euo pipefail
lupdate=$1 catalogue=$2 sources=$3
shift 3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$catalogue" "$scratch/check.ts"
"$lupdate" "$@" "@$sources" -ts "$scratch/check.ts" >"$scratch/lupdate.log" 2>&1 || {
    cat "$scratch/lupdate.log" >&2
    exit 1
}
# One record per message; print the source text of each that would show English to a German
# operator, that the sources no longer hold, or whose translation would format differently.
awk -v RS='</message>' '
    # printf conversions, in order, and how often each %1 ... %9 comes (those may move).
    function conversions(text,   rest, out, n) {
        out = ""
        rest = text
        while (match(rest, /%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z)?[diouxXeEfgGcsp%]/)) {
            out = out " " substr(rest, RSTART, RLENGTH)
            rest = substr(rest, RSTART + RLENGTH)
        }
        for (n = 1; n <= 9; n++)
            out = out " " gsub("%" n, "", text)
        return out
    }
    /<message/ {
        source = $0
        sub(/.*<source>/, "", source)
        sub(/<\/source>.*/, "", source)
        translation = $0
        sub(/.*<translation[^>]*>/, "", translation)
        sub(/<\/translation>.*/, "", translation)
        if ($0 ~ /type="(vanished|obsolete)"/)
            printf "no longer in the sources: %s\n", source
        else if ($0 ~ /type="unfinished"/ || translation ~ /^[ \t\n]*$/)
            printf "untranslated: %s\n", source
        else if (conversions(source) != conversions(translation))
            printf "formats differently (%%-conversions, %%1...%%9): %s\n", source
    }' "$scratch/check.ts" >"$scratch/missing.txt"
if [ -s "$scratch/missing.txt" ]; then
    echo "The German catalogue $(basename "$catalogue") is not complete:" >&2
    cat "$scratch/missing.txt" >&2
    echo "Run 'cmake --build build --target update_translations', translate the texts marked" \
        "unfinished in $catalogue (Qt Linguist, or by hand) and commit it (see i18n/README.md)." >&2
    exit 1
fi
echo "$(grep -c '<message' "$scratch/check.ts") texts, all with German"
