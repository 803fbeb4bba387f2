#!/usr/bin/env bash
# Checks of the catalogues of the Linux command's messages, run by ctest:
#   - po/pellora.pot is the template of the messages the sources hold now
#     (po/update.sh makes it anew and merges it into the translations)
#   - each LANGUAGE.po translates every one of those messages: msgfmt counts
#     none untranslated and none fuzzy, and each translation keeps its
#     message's format directives
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
"$root/po/update.sh" --pot "$work/pellora.pot"
undated() { grep -v '^"POT-Creation-Date: ' "$1"; }
if ! diff <(undated "$root/po/pellora.pot") <(undated "$work/pellora.pot") >"$work/diff"; then
    echo "FAIL: po/pellora.pot is not the template of the sources' messages: run po/update.sh" >&2
    sed 's/^/  /' "$work/diff" >&2
    status=1
fi
for po in "$root"/po/*.po; do
    # Merged with the sources' template, so that a message added since the
    # last po/update.sh counts as untranslated.
    msgmerge --quiet --no-fuzzy-matching -o "$work/merged.po" "$po" "$work/pellora.pot"
    if ! counts=$(LC_ALL=C msgfmt --check --statistics -o /dev/null "$work/merged.po" 2>&1); then
        echo "FAIL: $(basename "$po"): $counts" >&2
        status=1
    elif [[ $counts == *untranslated* || $counts == *fuzzy* ]]; then
        echo "FAIL: $(basename "$po") lacks translations: $counts" >&2
        status=1
    else
        echo "$(basename "$po"): $counts"
    fi
done
exit "$status"
