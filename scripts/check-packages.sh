#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages as a user meets them (as root, after make package): the five .deb files
# installed with dpkg, the examples built against /usr alone from their installed copies and run
# on the installed virtual PC, the tool run from /usr/bin, the Python package imported by Debian's
# python3 from dist-packages and a Python example run with it, the driver built by DKMS against the
# kernel headers that are installed, or else against those the end-to-end suite took out of
# Debian's packages (make e2e, which make test runs first); then the packages purged, leaving
# nothing behind.
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=strict-mode.sh
source "$root/scripts/strict-mode.sh"
e2e_dir=${FERROX_E2E_DIR:-$root/build/e2e}
packages_dir=$root/build/x86_64/packages
names=(libferrox0 libferrox-dev ferrox ferrox-dkms python3-ferrox)
work=$(mktemp -d)
# Where the check tells DKMS which key to sign with, for the one build it makes.
signing_conf=/etc/dkms/framework.conf.d/zz-ferrox-check-signing.conf

fail() {
	echo "check-packages: FAILED: $*" >&2
	exit 1
}
log() { echo "check-packages [${SECONDS}s]: $*"; }

installed() { dpkg-query -W -f='${db:Status-Status}\n' "$@" 2>/dev/null | grep -q '^installed$'; }

purge() { dpkg --purge "${names[@]}" >"$work/purge.log" 2>&1; }

cleanup() {
	rm -f "$signing_conf"
	purge || cat "$work/purge.log" >&2
	rm -rf "$work"
}

[ "$(id -u)" -eq 0 ] || fail "dpkg needs root"
mapfile -t debs < <(ls "$packages_dir"/*.deb 2>/dev/null)
[ ${#debs[@]} -eq ${#names[@]} ] || fail "make package gave ${#debs[@]} packages in $packages_dir, not ${#names[@]}"
# The development files need the libraries alone: not the tool, nor the cairo it draws with.
for deb in "${debs[@]}"; do
	[ "$(dpkg-deb -f "$deb" Package)" = libferrox-dev ] || continue
	depends=$(dpkg-deb -f "$deb" Depends)
	! grep -Eq '(^|, )(ferrox|libcairo2)( |,|$)' <<<"$depends" || fail "libferrox-dev depends on more than the libraries: $depends"
done
trap cleanup EXIT
purge || true
dpkg -i "${debs[@]}" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i failed"; }
for name in "${names[@]}"; do installed "$name" || fail "$name is not installed"; done
dpkg -S '*/libferrox-vpc.so.0' | grep -q '^libferrox0[:]' || fail "libferrox-vpc.so.0 is not in libferrox0"
log "installed ${names[*]}"

# --- The examples from their installed copies, against /usr alone, on the installed virtual PC.
cp -r /usr/share/doc/libferrox-dev/examples "$work/"
if ! { cmake -S "$work/examples/pci-functions" -B "$work/pci-functions" && cmake --build "$work/pci-functions"; } \
	>"$work/build.log" 2>&1; then
	cat "$work/build.log"
	fail "pci-functions did not build"
fi
grep -qx "ferrox_DIR:PATH=/usr/lib/.*/cmake/ferrox" "$work/pci-functions/CMakeCache.txt" ||
	fail "find_package found ferrox elsewhere: $(grep ferrox_DIR "$work/pci-functions/CMakeCache.txt")"
if grep -rIq "$root" "$work/pci-functions" || grep -q "$root" <<<"$(readelf -d "$work/pci-functions/pci-functions")"; then
	fail "the example's build names the source tree"
fi
output=$(LD_PRELOAD=libferrox-vpc.so.0 "$work/pci-functions/pci-functions") || fail "pci-functions failed: $output"
grep -q '^00:00.0 8086:1237' <<<"$output" || fail "pci-functions printed: $output"
line=$(sed -n 's|^// Build: ||p' "$work/examples/lpt-status/lpt_status.cpp")
(cd "$work/examples/lpt-status" && eval "$line") || fail "the one-line build of lpt-status failed"
output=$(LD_PRELOAD=libferrox-vpc.so.0 "$work/examples/lpt-status/lpt-status") || fail "lpt-status failed: $output"
grep -q '^sent 0x41 with a strobe' <<<"$output" || fail "lpt-status printed: $output"
log "pci-functions built with find_package, lpt-status with pkg-config; both ran on the virtual PC"

output=$(ferrox --virtual lpt list 2>&1) || fail "ferrox failed: $output"
grep -q '^LPT1 at 0x378' <<<"$output" || fail "ferrox printed: $output"
for page in man1/ferrox.1.gz man3/libferrox.3.gz; do
	[ -f "/usr/share/man/$page" ] || fail "/usr/share/man/$page is not installed"
done
log "ferrox runs from /usr/bin on the virtual PC; ferrox(1) and libferrox(3) are installed"

# --- The Python package, from dist-packages, with Debian's python3 and nothing of the source tree.
python=/usr/bin/python3
location=$(cd "$work" && env -u PYTHONPATH "$python" -c 'import ferrox; print(ferrox.__file__)') ||
	fail "python3 does not import ferrox"
[ "$location" = /usr/lib/python3/dist-packages/ferrox/__init__.py ] || fail "python3 imported ferrox from $location"
example=/usr/share/doc/python3-ferrox/examples/pci_walk.py
output=$(cd "$work" && env -u PYTHONPATH LD_PRELOAD=libferrox-vpc.so.0 "$python" "$example") ||
	fail "pci_walk.py failed: $output"
grep -q '^00:00.0 0600: 8086:1237 (rev 02)$' <<<"$output" || fail "pci_walk.py printed: $output"
grep -q -- '--ferrox-vpc' <<<"$(cd "$work" && env -u PYTHONPATH "$python" -m pytest --help)" ||
	fail "pytest does not load the plugin of python3-ferrox"
log "python3 imports ferrox from dist-packages, runs pci_walk.py on the virtual PC, and pytest has --ferrox-vpc"

# --- DKMS took the driver's sources; it builds them against kernel headers where there are some.
# Prints "VERSION DIRECTORY" of the newest kernel headers installed in /lib/modules, or else of the
# newest the end-to-end suite took out of Debian's packages; nothing where there are none (a new
# machine has no /lib/modules at all).
newest_kernel_headers() {
	local build kernel found=()
	shopt -s nullglob
	for build in /lib/modules/*/build; do
		[ -d "$build/include" ] && found+=("$(basename "$(dirname "$build")") $build")
	done
	if [ ${#found[@]} -eq 0 ]; then
		for kernel in "$e2e_dir"/kernels/*; do
			build=$kernel/root/usr/src/linux-headers-${kernel##*/}
			[ -f "$kernel/headers.done" ] && [ -d "$build/include" ] && found+=("${kernel##*/} $build")
		done
	fi
	shopt -u nullglob
	[ ${#found[@]} -eq 0 ] || printf '%s\n' "${found[@]}" | sort -V | tail -n1
}

# DKMS signs the module it builds where it has the kernel's sign-file and a key pair. The check
# gives it a key pair of its own (the host's /var/lib/dkms/mok.* stay as they are) and the sign-file
# of the kbuild that came with the headers, which DKMS does not look for there.
use_check_signing_key() {
	local candidate sign_file=""
	# The headers' scripts/ is a link to /usr/lib/linux-kbuild-*, which only an installed kbuild fills.
	for candidate in "$2/scripts/sign-file" "$2"/../../lib/linux-kbuild-*/scripts/sign-file; do
		[ -x "$candidate" ] && sign_file=$candidate && break
	done
	[ -n "$sign_file" ] || fail "no sign-file beside the headers of $1 in $2"
	openssl req -new -x509 -nodes -days 1 -subj "/CN=ferrox check signing key" -newkey rsa:2048 \
		-keyout "$work/mok.key" -outform DER -out "$work/mok.pub" >/dev/null 2>&1 || fail "openssl made no key pair"
	mkdir -p "${signing_conf%/*}"
	printf 'sign_file="%s"\nmok_signing_key="%s"\nmok_certificate="%s"\n' "$sign_file" "$work/mok.key" "$work/mok.pub" >"$signing_conf"
}

check_module_signed() {
	local module
	module=$(find "/var/lib/dkms/ferrox/$version/$1" -path '*/module/ferrox.ko*' | head -n1)
	[ -n "$module" ] || fail "DKMS kept no built module for $1"
	[ "$(modinfo -F signer "$module")" = "ferrox check signing key" ] ||
		{ grep -i sign "$work/dkms.log"; fail "DKMS did not sign $module with its key"; }
	log "DKMS signed the module with the key it was given ($module)"
}

version=$(dpkg-query -W -f='${Version}' ferrox-dkms)
grep -q "ferrox/$version" <<<"$(dkms status ferrox)" || fail "DKMS does not list ferrox/$version"
read -r kernel headers < <(newest_kernel_headers) || true
if [ -n "${kernel:-}" ]; then
	use_check_signing_key "$kernel" "$headers"
	dkms build -m ferrox -v "$version" -k "$kernel" --kernelsourcedir "$headers" >"$work/dkms.log" 2>&1 ||
		{ cat "$work/dkms.log"; fail "DKMS did not build the module for $kernel"; }
	rm -f "$signing_conf"
	dkms status -m ferrox -v "$version" -k "$kernel" | grep -Eq ": (built|installed)" || fail "DKMS does not list the module built for $kernel"
	log "DKMS built the module for $kernel (headers in $headers)"
	check_module_signed "$kernel"
else
	log "no kernel headers (none installed in /lib/modules, none fetched by make e2e into $e2e_dir): DKMS build not tried"
fi

# --- Purged, nothing stays.
purge || { cat "$work/purge.log"; fail "dpkg --purge failed"; }
for name in "${names[@]}"; do ! installed "$name" || fail "$name is still installed"; done
for left in /usr/include/ferrox /usr/src/ferrox-"$version" /var/lib/dkms/ferrox /usr/bin/ferrox \
	/usr/lib/python3/dist-packages/ferrox; do
	[ ! -e "$left" ] || fail "$left is left after the purge"
done
log "purged; nothing left"
