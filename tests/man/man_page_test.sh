#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages as installed:
#   man_page_test.sh render PAGE...       each renders without a warning
#   man_page_test.sh commands TOOL PAGE   PAGE names every subcommand TOOL lists in its help,
#                                         as "ferrox GROUP SUBCOMMAND", so none is left out
# shellcheck source=../scripts/strict-mode.sh
source "$(dirname "$0")/../scripts/strict-mode.sh"

render() {
	local page warnings status=0
	for page in "$@"; do
		warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
		if [ -n "$warnings" ]; then
			echo "$page: $warnings"
			status=1
		fi
	done
	return $status
}

# The names under "Subcommands:" in the help of the tool's command "$@".
subcommands() {
	"$tool" "$@" --help | awk '/^Subcommands:/ { listed = 1; next } listed && /^  [a-z]/ { print $1 } /^$/ { listed = 0 }'
}

# Every command path down to the leaves: "port read", ..., "demo".
leaves() {
	local name children
	for name in $(subcommands "$@"); do
		children=$(subcommands "$@" "$name")
		if [ -z "$children" ]; then
			echo "$* $name"
		else
			leaves "$@" "$name"
		fi
	done
}

commands() {
	tool=$1
	local page=$2 text command missing=0 count=0
	# One line of plain text, without hyphenation, so a name broken over two lines still matches.
	text=" $(groff -man -Tutf8 -rHY=0 -P-cbou "$page" | tr -s ' \n' '  ') "
	while read -r command; do
		count=$((count + 1))
		if [[ "$text" != *" ferrox $command "* ]]; then
			echo "$page does not name \"ferrox $command\""
			missing=1
		fi
	done < <(leaves)
	[ "$count" -gt 0 ] || { echo "$tool --help lists no subcommands"; return 1; }
	[ $missing -eq 1 ] || echo "$page names all $count subcommands"
	return $missing
}

case ${1:-} in
render) shift && render "$@" ;;
commands) shift && commands "$@" ;;
*) echo "usage: $0 render PAGE... | commands TOOL PAGE" >&2 && exit 2 ;;
esac
