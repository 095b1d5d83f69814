#!/usr/bin/env bash
# The manual pages pass mandoc's and man's own checks without a word, and each lists exactly the
# options its program's --help lists, so neither can change without the other.
# Arguments: build folder.
set -euo pipefail
build=$1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Prints the options in the OPTIONS section of a rendered page: the tags, indented by seven.
page_options() {
    MANWIDTH=200 man -l "$1" 2>/dev/null | col -b |
        awk '/^[A-Z]/ { options = ($0 == "OPTIONS") } options && /^       -/' |
        grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u
}

# Prints the options a program's --help lists.
help_options() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --help |
        grep -E -- '^ +-' | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u
}

for program in quelmark quelmark-put; do
    page="$build/man/$program.1"
    [ -f "$page" ] || fail "$page was not made"
    [ -f "$page.gz" ] || fail "$page.gz was not made"
    said=$(mandoc -T lint "$page" 2>&1) || [ -n "$said" ] || said="mandoc exits non-zero"
    [ -z "$said" ] || fail "mandoc -T lint $program.1: $said"
    said=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || said="man exits non-zero: $said"
    [ -z "$said" ] || fail "man --warnings -l $program.1: $said"
    documented=$(page_options "$page")
    helped=$(help_options "$build/$program")
    [ -n "$helped" ] || fail "$program --help lists no options"
    if [ "$documented" != "$helped" ]; then
        fail "$program.1 and $program --help list different options:
$(diff <(echo "$documented") <(echo "$helped") | grep '^[<>]' | sed 's/^</  only in the page:/; s/^>/  only in --help:/')"
    fi
done

[ "$failures" -eq 0 ] || exit 1
echo "both pages pass mandoc -T lint and man --warnings, and list the options of --help"
