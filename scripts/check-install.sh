#!/usr/bin/env bash
# The installed tree as a user meets it: installs a configuration's build into a staging prefix,
# checks its headers on their own, builds the examples against that tree alone (find_package and
# the one-line pkg-config build) and runs them on the installed virtual PC.
#   check-install.sh x86_64|i386        (after make build-x86_64 or build-i386)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
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
	readelf -d "$binary" | grep -E 'RUNPATH|RPATH' | grep -q "$root" && fail "$binary runs from the build tree"
done
while read -r header included; do
	[ -f "$stage/include/$included" ] || fail "$header includes $included, which is not installed"
done < <(cd "$stage/include" && grep -ro '^#include "ferrox/[^"]*"' ferrox | sed 's/:#include "/ /; s/"$//')

# --- Each header compiles on its own as C++20; libferrox's and the framework's, but the package
# loader's, also together as C++17.
headers=$(cd "$stage/include" && find ferrox -name '*.h' | sort)
# shellcheck disable=SC2016
xargs -P 2 -I '{}' sh -c 'echo "#include \"{}\"" | "$@" || { echo "{} does not compile on its own"; exit 255; }' \
	sh c++ "${arch_flags[@]}" -std=c++20 "${warnings[@]}" -fsyntax-only -I"$stage/include" -x c++ - <<<"$headers" ||
	fail "the headers do not each compile on their own as C++20"
cpp17=$(grep -Ev '^ferrox/vpc/|^ferrox/framework/(Modules|Units|PackageLoader)\.h$' <<<"$headers")
sed 's/.*/#include "&"/' <<<"$cpp17" | c++ "${arch_flags[@]}" -std=c++17 "${warnings[@]}" -fsyntax-only \
	-I"$stage/include" -x c++ - || fail "the C++17 headers do not compile as C++17"
log "headers: each on its own as C++20, $(wc -l <<<"$cpp17") of them as C++17"

# --- The examples, built both ways against the staging tree, run on its virtual PC.
expected_lpt='^sent 0x41 with a strobe'
expected_pci='^00:00.0 8086:1237 class 060000'
expected_irq='^IRQ 0: [1-9][0-9]* interrupts'
export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
for example in lpt-status pci-functions irq-count; do
	source_dir=$root/examples/$example
	source=$(cd "$source_dir" && ls ./*.cpp)
	arguments=()
	[ "$example" = irq-count ] && arguments=(0 0.5)
	case $example in
	lpt-status) expected=$expected_lpt ;;
	pci-functions) expected=$expected_pci ;;
	irq-count) expected=$expected_irq ;;
	esac

	# find_package: the build's run path leads to the staging tree's libraries.
	CXXFLAGS="${warnings[*]}" cmake -S "$source_dir" -B "$work/$example-cmake" "${cmake_arch[@]}" \
		-DCMAKE_PREFIX_PATH="$stage" >"$work.log" 2>&1 || { cat "$work.log"; fail "$example: cmake did not configure"; }
	grep -q "^ferrox_DIR:PATH=$stage/" "$work/$example-cmake/CMakeCache.txt" || fail "$example: found another ferrox"
	cmake --build "$work/$example-cmake" >"$work.log" 2>&1 || { cat "$work.log"; fail "$example: did not build with CMake"; }
	output=$(run LD_PRELOAD="$vpc" "$work/$example-cmake/$example" "${arguments[@]}") || fail "$example (CMake) failed"
	grep -qE "$expected" <<<"$output" || fail "$example (CMake) printed: $output"

	# The one-line build written at the top of the example's source.
	line=$(sed -n 's|^// Build: c++ ||p' "$source_dir/$source")
	[ -n "$line" ] || fail "$example: no one-line build in $source"
	(cd "$source_dir" && eval "c++ ${arch_flags[*]} ${warnings[*]} ${line/-o $example/-o $work/$example-pkgconfig}") ||
		fail "$example: the one-line pkg-config build failed"
	output=$(run LD_PRELOAD="$vpc" LD_LIBRARY_PATH="$stage/$libdir" "$work/$example-pkgconfig" "${arguments[@]}") ||
		fail "$example (pkg-config) failed"
	grep -qE "$expected" <<<"$output" || fail "$example (pkg-config) printed: $output"
	log "$example: built with find_package and with pkg-config, ran on the virtual PC"
done

# --- The installed tool restarts itself on the installed virtual PC.
if [ -x "$stage/bin/ferrox" ]; then
	output=$("$stage/bin/ferrox" --virtual pci list 2>&1) || fail "the installed tool failed: $output"
	grep -q "^ferrox: on the virtual PC" <<<"$output" || fail "the installed tool did not reach the virtual PC: $output"
	log "the installed tool runs on the installed virtual PC"
fi
rm -f "$work.log"
log "passed"
