#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed tree as a user meets it: installs a configuration's build into a staging prefix,
# checks its headers on their own, builds the examples against that tree alone (find_package and
# the one-line pkg-config build) and runs them on the installed virtual PC.
#   check-install.sh x86_64|i386        (after make build-x86_64 or build-i386)
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=strict-mode.sh
source "$root/scripts/strict-mode.sh"
config=${1:?usage: check-install.sh x86_64|i386}
build=$root/build/$config
stage=$build/stage
work=$build/consumers
warnings=(-Wall -Wextra -Werror)

case $config in
x86_64)
	arch_flags=()
	cmake_arch=()
	emulator=()
	;;
i386)
	arch_flags=(-m32)
	cmake_arch=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386.toolchain.cmake")
	emulator=(qemu-i386)
	;;
*) echo "check-install: no configuration $config" >&2 && exit 2 ;;
esac

fail() {
	echo "check-install ($config): FAILED: $*" >&2
	exit 1
}
log() { echo "check-install ($config) [${SECONDS}s]: $*"; }

# Runs an example with the environment given as NAME=VALUE words, under qemu for i386 (whose own
# process must not see the guest's preload).
run() {
	local environment=() arguments
	while [[ $1 == *=* ]]; do environment+=("$1") && shift; done
	if [ ${#emulator[@]} -eq 0 ]; then
		env "${environment[@]}" "$@"
	else
		arguments=()
		for variable in "${environment[@]}"; do arguments+=(-E "$variable"); done
		"${emulator[@]}" "${arguments[@]}" "$@"
	fi
}

rm -rf "$stage" "$work"
cmake --install "$build" --prefix "$stage" >/dev/null
libdir=$(cd "$stage" && ls -d lib/*-linux-gnu)
vpc=$stage/$libdir/libferrox-vpc.so.0
log "installed into $stage"

# --- The installed tree stands alone: no file names the source tree, and every header a public
# header includes is installed.
leaks=$(grep -rIoh "$root/[^\"' ;:]*" "$stage" | grep -vE "^$stage(/|$)" || true)
[ -z "$leaks" ] || fail "installed files name the source tree: $leaks"
for binary in "$stage/$libdir"/*.so.*.*.* "$stage"/bin/*; do
	[ -f "$binary" ] || continue
	grep -E 'RUNPATH|RPATH' <<<"$(readelf -d "$binary")" | grep -q "$root" && fail "$binary runs from the build tree"
done
while read -r header included; do
	[ -f "$stage/include/$included" ] || fail "$header includes $included, which is not installed"
done < <(cd "$stage/include" && grep -ro '^#include "ferrox/[^"]*"' ferrox | sed 's/:#include "/ /; s/"$//')

# --- Each header compiles on its own as C++20 (for one ABI: the other compiles them together);
# libferrox's and the framework's, but the package loader's, also together as C++17.
headers=$(cd "$stage/include" && find ferrox -name '*.h' | sort)
compile() { c++ "${arch_flags[@]}" "$@" "${warnings[@]}" -fsyntax-only -I"$stage/include" -x c++ -; }
if [ "$config" = x86_64 ]; then
	# shellcheck disable=SC2016
	xargs -P 2 -I '{}' sh -c 'echo "#include \"{}\"" | "$@" || { echo "{} does not compile on its own"; exit 255; }' \
		sh c++ -std=c++20 "${warnings[@]}" -fsyntax-only -I"$stage/include" -x c++ - <<<"$headers" ||
		fail "the headers do not each compile on their own as C++20"
else
	sed 's/.*/#include "&"/' <<<"$headers" | compile -std=c++20 || fail "the headers do not compile as C++20"
fi
cpp17=$(grep -Ev '^ferrox/(vpc|recording)/|^ferrox/framework/(Modules|Units|PackageLoader)\.h$' <<<"$headers")
sed 's/.*/#include "&"/' <<<"$cpp17" | compile -std=c++17 || fail "the C++17 headers do not compile as C++17"
log "headers compile as C++20, $(wc -l <<<"$cpp17") of them as C++17"

# --- The examples, built both ways against the staging tree and run on its virtual PC (preloaded);
# then a test program that links the virtual PC in (ferrox::vpc, ferrox-vpc.pc).
export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig

# check_program DIR EXPECTED PRELOAD [ARGUMENT...]: the program of DIR, named as DIR, built with
# its CMakeLists.txt and with the one-line build at the top of its source, prints a line that
# matches EXPECTED when run (with the virtual PC preloaded when PRELOAD is "preload").
check_program() {
	local source_dir=$1 expected=$2 preload=$3 name source line output
	shift 3
	name=${source_dir##*/}
	source=$(cd "$source_dir" && ls ./*.cpp)
	local environment=()
	[ "$preload" = preload ] && environment=(LD_PRELOAD="$vpc")

	# find_package: the build's run path leads to the staging tree's libraries.
	CXXFLAGS="${warnings[*]}" cmake -S "$source_dir" -B "$work/$name-cmake" "${cmake_arch[@]}" \
		-DCMAKE_PREFIX_PATH="$stage" >"$work.log" 2>&1 || { cat "$work.log"; fail "$name: cmake did not configure"; }
	grep -q "^ferrox_DIR:PATH=$stage/" "$work/$name-cmake/CMakeCache.txt" || fail "$name: found another ferrox"
	cmake --build "$work/$name-cmake" >"$work.log" 2>&1 || { cat "$work.log"; fail "$name: did not build with CMake"; }
	output=$(run "${environment[@]}" "$work/$name-cmake/$name" "$@") || fail "$name (CMake) failed: $output"
	grep -qE "$expected" <<<"$output" || fail "$name (CMake) printed: $output"

	line=$(sed -n 's|^// Build: c++ ||p' "$source_dir/$source")
	[ -n "$line" ] || fail "$name: no one-line build in $source"
	(cd "$source_dir" && eval "c++ ${arch_flags[*]} ${warnings[*]} ${line/-o $name/-o $work/$name-pkgconfig}") ||
		fail "$name: the one-line pkg-config build failed"
	output=$(run "${environment[@]}" LD_LIBRARY_PATH="$stage/$libdir" "$work/$name-pkgconfig" "$@") ||
		fail "$name (pkg-config) failed: $output"
	grep -qE "$expected" <<<"$output" || fail "$name (pkg-config) printed: $output"
	log "$name: built with find_package and with pkg-config, ran on the virtual PC"
}

check_program "$root/examples/lpt-status" '^sent 0x41 with a strobe' preload
check_program "$root/examples/pci-functions" '^00:00.0 8086:1237 class 060000' preload
check_program "$root/examples/irq-count" '^IRQ 0: [1-9][0-9]* interrupts' preload 0 0.5
check_program "$root/tests/install/virtual-pc-test" '^the printer on LPT1 received "A"' linked

# --- The installed tool restarts itself on the installed virtual PC, which qemu-user does not
# follow: the host must run the tool itself (i386 needs a kernel with IA-32 emulation).
runs_here() {
	local status=0
	"$1" --version >/dev/null 2>&1 || status=$?
	[ "$status" -ne 126 ]
}
if [ -x "$stage/bin/ferrox" ] && ! runs_here "$stage/bin/ferrox"; then
	log "the installed tool is not run: this host does not run $config programs itself"
elif [ -x "$stage/bin/ferrox" ]; then
	output=$("$stage/bin/ferrox" --virtual pci list 2>&1) || fail "the installed tool failed: $output"
	grep -q "^ferrox: on the virtual PC" <<<"$output" || fail "the installed tool did not reach the virtual PC: $output"
	log "the installed tool runs on the installed virtual PC"
	# ... and traces a program (itself) with the installed trace layer in front of it.
	output=$("$stage/bin/ferrox" --virtual trace -o /dev/stdout -- "$stage/bin/ferrox" --virtual lpt list 2>&1) ||
		fail "the installed tool did not trace: $output"
	grep -q "open .*(/dev/ferrox)" <<<"$output" || fail "the installed tool's trace shows no open of the node: $output"
	log "the installed tool traces a program with the installed trace layer"
	# ... and its bash completion, which the build wrote from the tool, completes it.
	completion=$stage/share/bash-completion/completions/ferrox
	output=$(bash -c "source '$completion'; COMP_WORDS=(ferrox pci list -n); COMP_CWORD=3; _ferrox; echo \"\${COMPREPLY[*]}\"" 2>&1) ||
		fail "the installed completion failed: $output"
	[ "$output" = "-n -nn" ] || fail "the installed completion offers \"$output\" for pci list -n"
	log "the installed bash completion completes the tool"
fi
rm -f "$work.log"
log "passed"
