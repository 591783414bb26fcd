# SPDX-License-Identifier: MIT
# Sourced first by every script of the test command: the script stops at the first command that
# fails, in a function or a pipeline too, and says which and where (once, from the script's own
# shell rather than from each subshell on the way), so that no step ends it without a word.
# Commands that may fail belong in a condition (if, ||, &&), where they stop nothing.
set -Eeuo pipefail
trap 'strict_mode_status=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "${0##*/}: FAILED: line $LINENO: \"$BASH_COMMAND\" exited with $strict_mode_status" >&2' ERR
