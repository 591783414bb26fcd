#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file of the repository names its licence in an SPDX line at its top: the first line,
# or the second after a "#!" line or a manual page's title. The driver in driver/ and the
# end-to-end suite's helper driver in e2e/helper/ are GPL-2.0-only (the request header with the
# syscall note, as user space includes it); everything else is MIT.
#   check-spdx.sh          lists the files without their line, and fails if there are any
#   check-spdx.sh --add    writes the line into those files (or mends it), in each language's comment
cd "$(dirname "$0")/.."
# shellcheck source=strict-mode.sh
source scripts/strict-mode.sh

expected_licence() {
	case $1 in
	driver/ferrox_ioctl.h) echo "GPL-2.0-only WITH Linux-syscall-note" ;;
	driver/* | e2e/helper/*) echo "GPL-2.0-only" ;;
	*) echo "MIT" ;;
	esac
}

# Source files: code, build and packaging files, scripts. Documents, licences, data and machine
# files are not.
is_source() {
	case ${1##*/} in
	changelog.in) return 1 ;; # a Debian changelog starts with its first entry
	*.c | *.h | *.cpp | *.cmake | *.sh | *.scd | *.in | *.rules | CMakeLists.txt | Makefile | Kbuild) return 0 ;;
	esac
	head -c 2 "$1" | grep -q '^#!'
}

comment() {
	local file=$1 text=$2
	case $file in
	driver/*.h) echo "/* $text */" ;;
	*.c | *.h | *.cpp) echo "// $text" ;;
	*.scd) echo "; $text" ;;
	*) echo "# $text" ;;
	esac
}

# The line number the SPDX line belongs on.
spdx_line_number() {
	local first
	first=$(head -n 1 "$1")
	if [[ $first == '#!'* ]] || [[ $1 == *.scd ]]; then echo 2; else echo 1; fi
}

add=false
[ "${1:-}" = --add ] && add=true
missing=0
while IFS= read -r file; do
	[ -f "$file" ] && [ ! -L "$file" ] && is_source "$file" || continue
	licence=$(expected_licence "$file")
	number=$(spdx_line_number "$file")
	line=$(sed -n "${number}p" "$file")
	[[ $line == *"SPDX-License-Identifier: $licence"* && $line != *"SPDX-License-Identifier: $licence "[A-Za-z]* ]] &&
		continue
	if $add; then
		text=$(comment "$file" "SPDX-License-Identifier: $licence")
		if [[ $line == *SPDX-License-Identifier* ]]; then
			sed -i "${number}s|.*|$text|" "$file"
		elif [ "$number" -eq 1 ]; then
			sed -i "1i\\$text" "$file"
		else
			sed -i "1a\\$text" "$file"
		fi
		echo "$file: $text"
	else
		echo "$file: line $number is not \"SPDX-License-Identifier: $licence\"" >&2
		missing=1
	fi
done < <(git ls-files)
exit $missing
