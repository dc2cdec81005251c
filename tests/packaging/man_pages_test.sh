#!/usr/bin/env bash
# The manual pages of quarvel-cli and quarvel-sim name exactly the options and
# commands the programs' own help lists, so neither can drift from the other.
#
# Usage: man_pages_test.sh BIN_DIR MAN_DIR
set -euo pipefail
bin="$1"
man="$2"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=tests/packaging/lib.sh
source "$here/lib.sh"

# 'quarvel-cli list' without arguments searches: never by broadcast here.
export QUARVEL_DISCOVERY=usb DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/quarvel-test-bus

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

options_in() { grep -o -- '--[a-z0-9][a-z0-9-]*' "$1" | sort -u; }

# compare PROGRAM HELP_FILE: the options of the help text against the page's.
compare() {
    local program="$1" help="$2" page="$man/$1.1"
    [ -s "$page" ] || fail "no manual page $page"
    [ -s "$help" ] || fail "$program printed no help"
    options_in "$help" >"$work/help.opts"
    options_in "$page" >"$work/page.opts"
    diff -u --label "$program help" --label "$program.1" "$work/help.opts" "$work/page.opts" ||
        fail "$program: the manual page and the help name different options"
}

"$bin/quarvel-sim" --help >"$work/sim.help" || fail "quarvel-sim --help failed"
compare quarvel-sim "$work/sim.help"

# quarvel-cli without arguments lists its commands.
"$bin/quarvel-cli" >"$work/cli.help" 2>&1 || true
commands=$(sed -n 's/^ *quarvel-cli \([a-z][a-z-]*\) .*/\1/p' "$work/cli.help" | sort -u)
[ -n "$commands" ] || fail "quarvel-cli lists no commands: $(cat "$work/cli.help")"
for command in $commands; do
    grep -q "^\\\\fB$command\\\\fR" "$man/quarvel-cli.1" ||
        fail "quarvel-cli.1 does not describe the command $command"
    # Without arguments a command prints its usage; --help, where a command
    # knows it, may say more.
    "$bin/quarvel-cli" "$command" >>"$work/cli.help" 2>&1 || true
    if "$bin/quarvel-cli" "$command" --help >"$work/command.help" 2>&1; then
        cat "$work/command.help" >>"$work/cli.help"
    fi
done
compare quarvel-cli "$work/cli.help"
echo "manual pages match the help"
