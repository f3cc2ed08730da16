#!/usr/bin/env bash
# Checks the manual page of quillon-cli: man renders it without a warning, and every option and
# command the tool's --help lists is in the page.
# Usage: tests/packaging/check-manpage.sh PAGE QUILLON-CLI
set -euo pipefail
page=$1
cli=${2:-}
fail() { echo "check-manpage: $*" >&2; exit 1; }
[ -f "$page" ] || fail "no page $page"
[ -x "$cli" ] || fail "no program quillon-cli given (usage: $0 PAGE QUILLON-CLI)"
warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null) || true
[ -z "$warnings" ] || fail "man warns about $page:"$'\n'"$warnings"
text=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null)
grep -q '^EXIT STATUS' <<<"$text" || fail "no EXIT STATUS section"
grep -q '^EXAMPLES' <<<"$text" || fail "no EXAMPLES section"

help=$("$cli" --help)
# Options: every "-x" or "--name" at the start of a help line ("-h,--help" gives both).
options_of() {
    sed -n 's/^ *\(-[-a-z0-9]*\).*/\1/p; s/^ *-[a-z], *\(--[-a-z0-9]*\).*/\1/p' <<<"$1" | sort -u
}
# Commands: the names under the subcommands heading.
commands=$(sed -n '/^[Ss][Uu][Bb][Cc][Oo][Mm][Mm][Aa][Nn][Dd][Ss]:/,/^$/p' <<<"$help" |
    sed -n 's/^  \([a-z][-a-z]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands found in the --help of $cli"
commands_part=$(sed -n '/^COMMANDS/,/^[A-Z]/p' <<<"$text")
# Examples, a command continued with a backslash joined into one line.
examples=$(sed -n '/^EXAMPLES/,/^[A-Z]/p' <<<"$text" | sed -e ':a' -e '/\\$/N; s/\\\n//; ta')
described() { grep -qe "^ *$1\b" -e "^ *-[a-z], $1\b" -e "\[$1\]" <<<"$2"; }
for o in $(options_of "$help"); do
    described "$o" "$text" || fail "option $o of --help is not described"
done
for c in $commands; do
    grep -q "^ *$c\b" <<<"$commands_part" || fail "command $c of --help is not described"
    grep -q "quillon-cli .*\b$c\b" <<<"$examples" || fail "no example of $c"
    for o in $(options_of "$("$cli" "$c" --help)"); do
        grep -q -- "$o" <<<"$commands_part$text" || fail "option $o of $c is not described"
    done
done
# Exit statuses of the page are listed in the order of the tool's table.
for s in 0 1 2 3 4 5 6; do
    sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$text" | grep -q "^ *$s\\b" || fail "exit status $s missing"
done
echo "check-manpage: ok ($(wc -w <<<"$commands") commands)"
