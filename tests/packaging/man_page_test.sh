#!/usr/bin/env bash
# Checks of the manual page against the program, run by ctest:
#
#   man_page_test.sh warnings MAN_PAGE          groff and man warn of nothing
#   man_page_test.sh help PROGRAM MAN_PAGE      every option, operand, exit
#       status and environment variable of `PROGRAM --help` has an entry in the
#       page's OPTIONS, EXIT STATUS and ENVIRONMENT sections, and the page has
#       no entry that --help lacks
#   man_page_test.sh same PAGE OTHER SECTION=OTHER_SECTION...
#       a translated page has the same entries as the page: each SECTION of
#       PAGE the same as OTHER_SECTION of OTHER (the Japanese page's
#       "オプション" as the English page's OPTIONS)
#
# PROGRAM may be a command line of several words (an emulator, then the program).
set -euo pipefail

# The page as plain text, one paragraph a line (a wide page wraps nothing);
# in UTF-8 for a page that is not English.
render() {
    LC_ALL=${2:-C} MANWIDTH=1000 man -l "$1" 2>/dev/null | col -b
}

# The tags of one section of the rendered page: the text at the entry indent,
# up to the first run of two spaces. A section runs from its heading to the
# next line that starts at the left margin.
page_tags() {
    awk -v section="$2" '
        /^[^ \t]/ { inside = ($0 == section); next }
        inside && /^       [^ ]/ { sub(/^ +/, ""); sub(/  .*/, ""); print }
    ' <<<"$1" | sort -u
}

# Exit statuses or environment variables of --help, from their headed blocks.
help_entries() {
    awk -v kind="$2" '
        /^$/ { block = ""; next }
        /^Exit status:$/ { block = "status"; next }
        /^Environment:$/ { block = "environment"; next }
        block == kind && /^  [^ ]/ {
            line = $0
            sub(/^  /, "", line)
            sub(/  .*/, "", line)
            print line
        }
    ' <<<"$1" | sort -u
}

# Options and the operand from the block that lists the options.
help_options() {
    awk '
        /^$/ { if (found) exit; block = ""; next }
        /^  [^ ]/ { line = $0; sub(/^  /, "", line); sub(/  .*/, "", line); block = block line "\n" }
        /^  -/ { found = 1 }
        END { if (found) printf "%s", block }
    ' <<<"$1" | sort -u
}

compare() {
    local what=$1 from_help=$2 from_page=$3
    if [ -z "$from_help" ]; then
        echo "FAIL: --help lists no $what: the parsing of --help is out of date" >&2
        return 1
    fi
    if [ "$from_help" != "$from_page" ]; then
        echo "FAIL: the $what differ between --help and the manual page" >&2
        diff <(echo "$from_help") <(echo "$from_page") | sed -n 's/^</  only in --help:/p; s/^>/  only in the page:/p' >&2
        return 1
    fi
    echo "$what:" $from_help
}

case ${1:-} in
warnings)
    page=$2
    # As lintian reads a page: every groff warning of the man macros, UTF-8.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "FAIL: warnings from man/groff on $page:" >&2
        echo "$warnings" >&2
        exit 1
    fi
    [ -n "$(render "$page")" ] || { echo "FAIL: $page renders as nothing" >&2; exit 1; }
    echo "no warnings"
    ;;
help)
    program=$2
    page=$3
    help=$(LC_ALL=C $program --help)  # the English help, whatever the locale
    text=$(render "$page")
    status=0
    compare "options" "$(help_options "$help")" "$(page_tags "$text" OPTIONS)" || status=1
    compare "exit statuses" "$(help_entries "$help" status)" "$(page_tags "$text" "EXIT STATUS")" || status=1
    compare "environment variables" "$(help_entries "$help" environment)" \
        "$(page_tags "$text" ENVIRONMENT)" || status=1
    exit "$status"
    ;;
same)
    page=$2
    other=$3
    shift 3
    text=$(render "$page" C.UTF-8)
    other_text=$(render "$other" C.UTF-8)
    status=0
    for pair in "$@"; do
        section=${pair%%=*}
        other_section=${pair#*=}
        tags=$(page_tags "$text" "$section")
        [ -n "$tags" ] || { echo "FAIL: $page has no entries in $section" >&2; status=1; continue; }
        if [ "$tags" != "$(page_tags "$other_text" "$other_section")" ]; then
            echo "FAIL: $other's $other_section differs from $page's $section" >&2
            diff <(echo "$tags") <(page_tags "$other_text" "$other_section") |
                sed -n "s|^<|  only in $page:|p; s|^>|  only in $other:|p" >&2
            status=1
        else
            echo "$section:" $tags
        fi
    done
    exit "$status"
    ;;
*)
    echo "usage: $0 warnings MAN_PAGE | help PROGRAM MAN_PAGE |" \
        "same PAGE OTHER SECTION=OTHER_SECTION..." >&2
    exit 2
    ;;
esac
