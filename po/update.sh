#!/usr/bin/env bash
# Makes the template of the Linux command's messages from its sources, and
# merges it into each translation:
#
#   po/update.sh              pellora.pot anew, then every LANGUAGE.po merged
#   po/update.sh --pot FILE   only the template, into FILE (the tests compare
#                             it with the pellora.pot in the tree)
#
# The messages are the strings in _() and N_() of src/cli (tests left out);
# formatted()'s first argument is a printf format. Locations name the file
# only, so that an edit elsewhere in a file does not change the template.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

template() {
    local out=$1
    (cd "$root" &&
        find src/cli -name '*.cpp' ! -name '*_test.cpp' | LC_ALL=C sort |
        xgettext --files-from=- --output="$out" --language=C++ --from-code=UTF-8 \
            --keyword=_ --keyword=N_ --flag=formatted:1:c-format \
            --add-comments=TRANSLATORS: --add-location=file \
            --package-name=pellora \
            --msgid-bugs-address="maintainers@users.noreply.c-seed-c7f2a38f.example" \
            --copyright-holder="The Pellora developers")
}

if [ "${1:-}" = --pot ]; then
    template "$2"
    exit 0
fi
template "$root/po/pellora.pot"
for po in "$root"/po/*.po; do
    msgmerge --quiet --update --backup=none --no-fuzzy-matching --add-location=file \
        "$po" "$root/po/pellora.pot"
done
