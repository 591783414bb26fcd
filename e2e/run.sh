#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end tests of the ferrox driver on an emulated PC: kernels boot in turn under QEMU (software
# emulation) with the module built for each and the test programs of both ABIs in a small
# initramfs; the guest's /init runs them and reports through the debug-exit port. The kernels are
# Debian's own x86_64 kernels (bookworm's and bookworm-backports') and a debug kernel built from
# Debian's bookworm kernel source with KASAN, lockdep and might_sleep checks (e2e/debug-kernel.sh).
#
# The test programs are targets of the build trees build/x86_64 and build/i386 (e2e/guest), linked
# with the very libferrox the ordinary suite tests; run this through `make e2e`, which configures
# those trees. Installs what is missing with apt-get (as root), adds the backports suite to apt's
# sources when it is missing, takes the kernel image and the header packages out of their .deb
# files (into the build tree, never /boot or /usr), and leaves everything under build/e2e
# (FERROX_E2E_DIR overrides). FERROX_FUZZ_SEED repeats a run of the driver fuzzer;
# FERROX_E2E_BOOTS picks boots by name ("stable" alone for the peer benchmarks); FERROX_E2E_DRIVER
# builds the module from another directory than driver/ (an older or a deliberately broken one).
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/strict-mode.sh
source "$root/scripts/strict-mode.sh"
work=${FERROX_E2E_DIR:-$root/build/e2e}
make_jobs=${JOBS:-2}
boot_timeout=${FERROX_E2E_TIMEOUT:-300}
fuzz_seed=${FERROX_FUZZ_SEED:-$(( $(date +%s%N) % 1000000007 ))}
pass_code=10                      # hex, agreed with e2e/guest/init
pass_status=$(((0x$pass_code << 1) | 1))  # as QEMU's exit status
disk_model="FERROX E2E DISK"      # the guest's ATA scenario expects this model name
abis=(x86_64 i386)
driver_dir=${FERROX_E2E_DRIVER:-$root/driver}
# A boot: its name, its kernel and the kernel's command line, which may name the guest programs it
# runs (FERROX_PROGRAMS=a,b; every program but those on request without it). A kernel is a suite of
# Debian's package lists, whose linux-image-amd64 it is (default: bookworm with its security
# updates; bookworm-backports, whose headers build with bookworm's compiler), or debug.
# The stock kernels run with the slab allocator's own checks; the debug kernel has KASAN instead,
# and runs a few times slower, so its fuzzer has longer to send its requests; it has no printer
# driver, and the doctor's verdicts are no kernel's own, so the doctor runs on the stock kernels.
# The lockdown boot locks the kernel down while a descriptor is open (lockdown=integrity on the
# command line would refuse the unsigned module itself). The sig-enforce and locked boots have the
# kernel refuse the unsigned module, and the doctor of each ABI say why, on both stock kernels: the
# refusal and where the doctor reads it (the module parameter, securityfs) are each kernel's own.
boots=(
	"stable default slub_debug=FZPU"
	"backports bookworm-backports slub_debug=FZPU"
	"debug debug FERROX_FUZZ_SECONDS=300 FERROX_DOCTOR=no"
	"lockdown default FERROX_PROGRAMS=lockdown"
	"sig-enforce default module.sig_enforce=1 FERROX_PROGRAMS=doctor"
	"locked default lockdown=integrity FERROX_PROGRAMS=doctor"
	"backports-sig-enforce bookworm-backports module.sig_enforce=1 FERROX_PROGRAMS=doctor"
	"backports-locked bookworm-backports lockdown=integrity FERROX_PROGRAMS=doctor"
)
read -r -a chosen_boots <<<"${FERROX_E2E_BOOTS:-stable backports debug lockdown sig-enforce locked backports-sig-enforce backports-locked}"
backports_list=/etc/apt/sources.list.d/ferrox-e2e-backports.sources

log() { echo "e2e [${SECONDS}s]: $*"; }
fail() {
	echo "e2e: FAILED: $*" >&2
	exit 1
}

apt_install() {
	[ "$(id -u)" -eq 0 ] || fail "missing packages: $* (run as root, or install them with apt-get)"
	log "installing $*"
	DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "$@" >/dev/null
}

ensure_packages() {
	local wanted=(qemu-system-x86 qemu-user busybox-static cpio gzip xz-utils make gcc-12 dwarves bison flex bc libelf-dev)
	local missing=() package
	for package in "${wanted[@]}"; do
		dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
	done
	[ ${#missing[@]} -eq 0 ] && return
	apt-get update -qq
	apt_install "${missing[@]}"
}

# The package lists name each suite's kernel; they are refreshed before a kernel that is not cached
# is downloaded, so that the version they name is still on the mirror.
ensure_backports_source() {
	grep -q 'bookworm-backports' <<<"$(apt-cache policy)" && return
	[ "$(id -u)" -eq 0 ] || fail "apt knows no bookworm-backports suite (run as root to have it added)"
	log "adding bookworm-backports to apt's sources"
	printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' 'Components: main' \
		'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$backports_list"
	apt-get update -qq
}

kernel_version() {
	local package=linux-image-amd64
	[ "$1" = default ] || package+=/$1
	# A suite apt does not know yet names none.
	{ apt-cache depends "$package" 2>/dev/null || true; } | sed -n '0,/^ *Depends: linux-image-/s/^ *Depends: linux-image-\(.*\)$/\1/p'
}

# The headers of a kernel and the packages they need that hold build files (common headers, kbuild).
header_packages() {
	local kver=$1
	echo "linux-headers-$kver"
	apt-cache depends "linux-headers-$kver" | sed -n 's/^ *Depends: \(linux-\(headers\|kbuild\)-[^ ]*\)$/\1/p'
}

# Only vmlinuz, the parallel-port modules and the headers are taken out of the packages; nothing
# is installed.
fetch_kernel() {
	local suite=$1 kver=$2 dir=$work/kernels/$2
	[ -f "$dir/vmlinuz" ] && [ -f "$dir/modules/lp.ko" ] && [ -f "$dir/headers.done" ] && return
	log "fetching the kernel $kver ($suite)"
	rm -rf "$dir"
	mkdir -p "$dir/debs" "$dir/root"
	# apt-get download writes as root when its sandbox user cannot reach the directory; it says so.
	(cd "$dir/debs" && apt-get download -qq "linux-image-$kver" $(header_packages "$kver") 2>&1 |
		grep -v 'unsandboxed' >&2 || true)
	local deb images
	images=("$dir/debs"/linux-image-"$kver"_*.deb)
	deb=${images[0]}
	[ -f "$deb" ] || fail "apt-get download linux-image-$kver gave no package"
	dpkg-deb --fsys-tarfile "$deb" | tar -x -O "./boot/vmlinuz-$kver" >"$dir/vmlinuz"
	extract_parport_modules "$deb" "$kver" "$dir/modules"
	for deb in "$dir/debs"/linux-headers-*.deb "$dir/debs"/linux-kbuild-*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
	# The architecture's headers include the common ones by their installed path.
	sed -i "s|^include /usr/src/|include $dir/root/usr/src/|" "$dir/root/usr/src/linux-headers-$kver/Makefile"
	rm -rf "$dir/debs"
	touch "$dir/headers.done"
}

# The kernel's parallel-port stack (parport, parport_pc, ppdev), which the peer benchmarks load
# in the guest, and its printer driver (lp), which the doctor finds holding the port; uncompressed,
# as they load it with finit_module.
extract_parport_modules() {
	local deb=$1 kver=$2 modules=$3 unpacked
	unpacked=$(mktemp -d)
	dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$unpacked" --wildcards \
		"./lib/modules/$kver/kernel/drivers/parport/parport.ko*" \
		"./lib/modules/$kver/kernel/drivers/parport/parport_pc.ko*" \
		"./lib/modules/$kver/kernel/drivers/char/ppdev.ko*" \
		"./lib/modules/$kver/kernel/drivers/char/lp.ko*"
	find "$unpacked" -name '*.ko.xz' -exec xz -d {} +
	mkdir -p "$modules"
	find "$unpacked" -name '*.ko' -exec mv {} "$modules/" \;
	rm -rf "$unpacked"
}

# The module and the suite's helper driver (e2e/helper), against the build tree of the kernel.
build_modules() {
	local kver=$1 headers=$2 name source dir
	log "building the modules for $kver"
	for name in module helper; do
		source=$driver_dir
		[ "$name" = helper ] && source=$root/e2e/helper
		dir=$work/kernels/$kver/$name
		rm -rf "$dir"
		mkdir -p "$dir"
		cp -p "$source"/Kbuild "$source"/*.c "$dir/"
		cp -p "$source"/*.h "$dir/" 2>/dev/null || true
		make -s -C "$headers" M="$dir" -j"$make_jobs" FERROX_WERROR=1 modules >"$dir/build.log" 2>&1 ||
			{ cat "$dir/build.log"; fail "the $name did not build for $kver"; }
		# Without the kernel's vmlinux there is no type information to add; the build says so each time.
		grep -v 'Skipping BTF generation' "$dir/build.log" || true
	done
}

# The guest programs and the tool of each ABI, as the build tree lists them (e2e/guest/CMakeLists.txt),
# and the host's trace session that its x86_64 tool replays the guest's recordings with.
build_guest_programs() {
	local abi tree targets
	for abi in "${abis[@]}"; do
		tree=$root/build/$abi
		[ -f "$tree/CMakeCache.txt" ] || fail "build/$abi is not configured (run make e2e)"
		targets=(e2e-guest ferrox-tool)
		[ "$abi" = x86_64 ] && targets+=(trace_session)
		log "building the guest programs for $abi"
		cmake --build "$tree" --target "${targets[@]}" -j"$make_jobs" >"$work/guest-$abi.log" 2>&1 ||
			{ cat "$work/guest-$abi.log"; fail "the guest programs for $abi did not build"; }
	done
}

# The shared libraries a program of the ABI loads, as its loader lists them. An i386 program's own
# loader runs under qemu-user: the host's kernel may not run 32-bit programs (ldd then lists none).
list_libraries() {
	local abi=$1 program=$2
	if [ "$abi" = i386 ]; then
		qemu-i386 /lib/ld-linux.so.2 --list "$program"
	else
		ldd "$program"
	fi
}

# Copies a program into the root file system with every shared library it loads, each at the path
# the host's loader finds it at, without their debugging information.
copy_with_libraries() {
	local abi=$1 program=$2 target=$3 rootfs=$4 library listing
	install -D -m 755 "$program" "$rootfs$target"
	strip --strip-debug "$rootfs$target"
	listing=$(list_libraries "$abi" "$program") || fail "the loader cannot list the libraries of $program"
	for library in $(sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^\t\(\/[^ ]*\).*/\1/p' <<<"$listing"); do
		[ -e "$rootfs$library" ] && continue
		install -D -m 755 "$(readlink -f "$library")" "$rootfs$library"
		strip --strip-debug "$rootfs$library"
	done
}

pack_rootfs() {
	rootfs=$work/rootfs
	rm -rf "$rootfs"
	mkdir -p "$rootfs"/{bin,dev,proc,sys,lib/modules,tests}
	cp /bin/busybox "$rootfs/bin/busybox"
	cp "$root/e2e/guest/init" "$rootfs/init"
	local abi program
	for abi in "${abis[@]}"; do
		while read -r program; do
			[ -n "$program" ] && copy_with_libraries "$abi" "$root/build/$abi/e2e/guest/$program" "/tests/$abi/$program" "$rootfs"
		done <"$root/build/$abi/e2e/guest/programs.txt"
	done
	cp "$root/build/x86_64/e2e/guest/on-request.txt" "$rootfs/tests/on-request.txt"
	# The tool of each ABI with its shared libraries (/tools/<abi>/ferrox, outside /tests, whose
	# programs /init runs), for the guest's checks of its commands on the driver (ferrox latency) and
	# the doctor's scenarios, with the lines each should show.
	for abi in "${abis[@]}"; do
		copy_with_libraries "$abi" "$root/build/$abi/tools/ferrox/ferrox" "/tools/$abi/ferrox" "$rootfs"
	done
	cp -r "$root/e2e/guest/doctor" "$rootfs/tests/doctor"
}

pack_initramfs() {
	local kver=$1
	rm -f "$rootfs"/lib/modules/*.ko
	cp "$work/kernels/$kver/module/ferrox.ko" "$work/kernels/$kver/helper/ferrox_e2e_helper.ko" \
		"$work/kernels/$kver/modules"/*.ko "$rootfs/lib/modules/"
	(cd "$rootfs" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -1 >"$work/initramfs.gz"
}

# The PC: two processors (so interrupts and the programs' requests really overlap), i440FX chipset,
# IDE disk on the primary controller, a VGA adapter (its memory window at 0xA0000), two parallel
# ports whose output goes to files, a serial console to a file, a debug console port per ABI whose
# output goes to a file (the recorded session's recording), and the debug-exit port for the
# verdict. The fuzzer's seed and FERROX_E2E_KERNEL_ARGS reach the guest programs as environment
# variables of /init (ferrox_peers=full: the peer benchmarks at length). no_timer_check: on a loaded
# host the emulated timer can miss the kernel's check at boot, which then panics.
boot() {
	local name=$1 kver=$2 command_line=$3 timeout=$boot_timeout
	# KASAN and lockdep make the debug kernel a few times slower.
	[ "$name" = debug ] && timeout=$((3 * boot_timeout))
	run=$work/run-$name
	rm -rf "$run"
	mkdir -p "$run"
	truncate -s 8M "$run/disk.img"
	log "booting the emulated PC with $kver ($name: $command_line)"
	local started=$SECONDS
	qemu_status=0
	timeout -k 10 "$timeout" qemu-system-x86_64 \
		-machine pc -accel tcg -smp 2 -m 256 -nodefaults -display none -no-reboot \
		-kernel "$work/kernels/$kver/vmlinuz" -initrd "$work/initramfs.gz" \
		-append "console=ttyS0 panic=-1 quiet no_timer_check $command_line FERROX_FUZZ_SEED=$fuzz_seed ${FERROX_E2E_KERNEL_ARGS:-}" \
		-serial "file:$run/console.log" \
		-chardev "file,id=lpt1,path=$run/lpt1.txt" -device isa-parallel,chardev=lpt1,iobase=0x378,irq=7,index=0 \
		-chardev "file,id=lpt2,path=$run/lpt2.txt" -device isa-parallel,chardev=lpt2,iobase=0x278,irq=5,index=1 \
		-drive "file=$run/disk.img,format=raw,if=none,id=disk" \
		-device "ide-hd,drive=disk,bus=ide.0,unit=0,model=$disk_model" \
		-device VGA \
		-chardev "file,id=recording64,path=$run/recording-x86_64.rec" -device isa-debugcon,iobase=0x4f8,chardev=recording64 \
		-chardev "file,id=recording32,path=$run/recording-i386.rec" -device isa-debugcon,iobase=0x4f9,chardev=recording32 \
		-device isa-debug-exit,iobase=0x501,iosize=1 \
		</dev/null >"$run/qemu.log" 2>&1 || qemu_status=$?
	cat "$run/console.log" 2>/dev/null || true
	log "the emulated PC ran $((SECONDS - started)) s with $kver ($name)"
}

# The host's files behind the ports hold exactly the lines the guest printed, in any order.
check_printers() {
	local port abi expected actual
	for port in lpt1 lpt2; do
		expected=$(for abi in "${abis[@]}"; do
			sed -n "s/^$port //p" "$root/e2e/printer-lines.txt" | sed "s/{abi}/$abi/"
		done | LC_ALL=C sort)
		actual=$(LC_ALL=C sort "$run/$port.txt" 2>/dev/null || true)
		if [ "$expected" != "$actual" ]; then
			diff <(echo "$expected") <(echo "$actual") >&2 || true
			fail "the printer on $port received other lines than the guest printed ($1)"
		fi
	done
}

# The recordings the guest made on the driver came out through the debug console ports; they replay
# on the host's virtual PC as the suite replays the copies kept in tests/trace (refresh those with:
# cp build/e2e/run-<kernel>/recording-*.rec tests/trace/emulated-pc-*.rec).
check_recordings() {
	local abi recording tool=$root/build/x86_64/tools/ferrox/ferrox session=$root/build/x86_64/tests/trace_session
	for abi in "${abis[@]}"; do
		recording=$run/recording-$abi.rec
		[ "$(head -c 8 "$recording" 2>/dev/null)" = FERROXRC ] || fail "the guest's recording $recording did not come out ($1)"
		"$tool" replay --loose-timing --loose-polling "$recording" -- "$session" >/dev/null ||
			fail "the recording of the $abi guest on $1 does not replay on the host"
	done
	log "the guest's recordings came out and replay on the host"
}

# The release of a boot's kernel, fetched or built.
kernel_for() {
	local suite=$1 kver
	if [ "$suite" = debug ]; then
		"$root/e2e/debug-kernel.sh" "$work/kernels" || fail "the debug kernel did not build"
		return
	fi
	kver=$(kernel_version "$suite")
	if { [ -z "$kver" ] || [ ! -f "$work/kernels/$kver/headers.done" ]; } && [ "$(id -u)" -eq 0 ]; then
		apt-get update -qq
		kver=$(kernel_version "$suite")
	fi
	[ -n "$kver" ] || fail "the package lists name no kernel for linux-image-amd64 ($suite)"
	fetch_kernel "$suite" "$kver" >&2
	echo "$kver"
}

# The tree that modules for the kernel build against.
headers_of() {
	local suite=$1 kver=$2
	if [ "$suite" = debug ]; then
		echo "$work/kernels/$kver/build"
	else
		echo "$work/kernels/$kver/root/usr/src/linux-headers-$kver"
	fi
}

run_boot() {
	local name=$1 suite=$2 kver headers
	shift 2
	local command_line="$*"
	kver=$(kernel_for "$suite")
	headers=$(headers_of "$suite" "$kver")
	[ "${built_for[$kver]:-}" = 1 ] || build_modules "$kver" "$headers"
	built_for[$kver]=1
	pack_initramfs "$kver"
	boot "$name" "$kver" "$command_line"
	# A kernel locked down from its boot refuses the guest the debug-exit port: its /init says the
	# verdict on the console and powers the machine off.
	[ "$qemu_status" = 0 ] && grep -q "^guest: verdict $pass_code" "$run/console.log" && qemu_status=$pass_status
	case $qemu_status in
	"$pass_status") ;;
	124 | 137) fail "the emulated PC did not finish in time ($name, $kver)" ;;
	*) fail "the guest reported failure with $kver ($name; QEMU exit status $qemu_status; $(head -c 300 "$run/qemu.log"))" ;;
	esac
	# Only a boot that runs every program prints and records. The debug kernel's recordings do not
	# replay yet (they diverge at their first call), so only the stock kernels' are replayed.
	if [[ "$command_line ${FERROX_E2E_KERNEL_ARGS:-}" != *FERROX_PROGRAMS=* ]]; then
		check_printers "$kver"
		[ "$suite" = debug ] || check_recordings "$kver"
	fi
	log "passed on $kver ($name)"
}

main() {
	mkdir -p "$work"
	ensure_packages
	ensure_backports_source
	build_guest_programs
	pack_rootfs
	log "fuzzer seed $fuzz_seed (FERROX_FUZZ_SEED=$fuzz_seed make e2e repeats it)"
	declare -gA built_for=()
	local boot name
	for boot in "${boots[@]}"; do
		read -r name _ <<<"$boot"
		[[ " ${chosen_boots[*]} " == *" $name "* ]] && run_boot $boot
	done
	log "passed"
}

main "$@"
