#!/usr/bin/env bash
# End-to-end tests of the ferrox driver on an emulated PC: Debian's own x86_64 kernel boots under
# QEMU (software emulation) with the module and static test programs of both ABIs in a small
# initramfs; the guest's /init runs them and reports through the debug-exit port.
#
# Installs what is missing with apt-get (as root), takes the kernel image out of the package of the
# version linux-image-amd64 names (into the build tree, never /boot), builds the module against the
# matching headers, and leaves everything under build/e2e (FERROX_E2E_DIR overrides).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${FERROX_E2E_DIR:-$root/build/e2e}
make_jobs=${JOBS:-2}
boot_timeout=${FERROX_E2E_TIMEOUT:-180}
pass_status=$(((0x10 << 1) | 1))  # the guest's pass code 0x10 as QEMU's exit status
disk_model="FERROX E2E DISK"      # the guest's ATA scenario expects this model name
abis=(x86_64 i386)

log() { echo "e2e [${SECONDS}s]: $*"; }
fail() {
	echo "e2e: FAILED: $*" >&2
	exit 1
}

kernel_version() {
	apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: linux-image-\(.*\)$/\1/p' | head -n1
}

ensure_packages() {
	# Before a kernel is downloaded the lists are refreshed, so that the version they name still is
	# on the mirror.
	kver=$(kernel_version)
	if { [ -z "$kver" ] || [ ! -f "$work/kernel/vmlinuz-$kver" ]; } && [ "$(id -u)" -eq 0 ]; then
		apt-get update -qq
		kver=$(kernel_version)
	fi
	[ -n "$kver" ] || fail "the package lists name no kernel for linux-image-amd64"

	local wanted=(qemu-system-x86 busybox-static cpio gzip make gcc g++ g++-multilib "linux-headers-$kver")
	local missing=() package
	for package in "${wanted[@]}"; do
		dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
	done
	[ ${#missing[@]} -eq 0 ] && return
	[ "$(id -u)" -eq 0 ] || fail "missing packages: ${missing[*]} (run as root, or install them with apt-get)"
	log "installing ${missing[*]}"
	apt-get update -qq
	DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Only vmlinuz is taken from the package; nothing is installed.
fetch_kernel() {
	vmlinuz=$work/kernel/vmlinuz-$kver
	[ -f "$vmlinuz" ] && return
	log "fetching the kernel image $kver"
	mkdir -p "$work/kernel"
	rm -f "$work/kernel"/*.deb
	(cd "$work/kernel" && apt-get download -qq "linux-image-$kver" 2>&1 | grep -v 'unsandboxed' >&2 || true)
	local deb
	deb=$(ls "$work/kernel"/linux-image-"$kver"_*.deb 2>/dev/null | head -n1)
	[ -n "$deb" ] || fail "apt-get download linux-image-$kver gave no package"
	dpkg-deb --fsys-tarfile "$deb" | tar -x -O "./boot/vmlinuz-$kver" >"$vmlinuz.part"
	mv "$vmlinuz.part" "$vmlinuz"
	rm -f "$deb"
}

build_module() {
	log "building the module for $kver"
	mkdir -p "$work/module"
	cp -p "$root"/driver/Kbuild "$root"/driver/*.c "$root"/driver/*.h "$work/module/"
	# Without the kernel's vmlinux there is no type information to add; the build says so each time.
	make -s -C "/lib/modules/$kver/build" M="$work/module" -j"$make_jobs" modules > "$work/module/build.log" 2>&1 ||
		{ cat "$work/module/build.log"; fail "the module did not build"; }
	grep -v 'Skipping BTF generation' "$work/module/build.log" || true
}

# guest_program NAME SOURCE... [compiler flags]: a static program for /tests/<abi>/NAME of the guest,
# built for both ABIs at once, and again only when a source or a header it may include changed.
# Library-level programs join build_guest_programs with their own line.
guest_program() {
	local name=$1
	shift
	local abi output flags pids=() pid status=0 inputs=("$root/e2e/guest" "$root/hwtypes" "$root/driver" "$root/component" "$root/framework" "$root/tests/scenarios") arg
	for arg in "$@"; do [ -e "$arg" ] && inputs+=("$arg"); done
	for abi in "${abis[@]}"; do
		output=$work/guest/$abi/$name
		programs+=("$abi/$name")
		if [ -f "$output" ] && [ -z "$(find "${inputs[@]}" -newer "$output" -print -quit)" ]; then
			continue
		fi
		flags=()
		[ "$abi" = i386 ] && flags=(-m32)
		mkdir -p "$work/guest/$abi"
		g++ -std=c++20 -O2 -static -Wall -Wextra -Werror "${flags[@]}" -I"$root/include" -I"$root" -I"$root/e2e/guest" \
			"$root"/e2e/guest/common/*.cpp "$@" -o "$output" &
		pids+=($!)
	done
	for pid in "${pids[@]}"; do wait "$pid" || status=1; done
	[ $status -eq 0 ] || fail "the guest program $name did not build"
}

build_guest_programs() {
	log "building the guest programs"
	programs=()
	guest_program driver_contract "$root"/e2e/guest/driver_contract/*.cpp
	# libferrox itself (without its package entry points), with the scenarios the ordinary suite
	# runs on the virtual PC.
	guest_program library "$root"/e2e/guest/library/*.cpp "$root"/tests/scenarios/*.cpp \
		"$root"/component/{core,interrupts,InterruptRegistry,lpt,memory,pci,permissions,ports}.cpp \
		"$root"/hwtypes/HW_Types.cpp "$root"/framework/TComponent.cpp
	# The session of the trace tests recorded on the driver, with the trace layer bound by --wrap.
	guest_program recorded_session "$root"/e2e/guest/recorded_session/*.cpp "$root"/tests/trace/session.cpp \
		"$root"/trace/{trace_layer,recording_writer,recording_reader,event_decoding,hardware_names,inherited_pipe}.cpp \
		"$root"/sim/kernel/descriptor_table.cpp \
		"$root"/component/{core,interrupts,InterruptRegistry,lpt,memory,pci,permissions,ports}.cpp \
		"$root"/hwtypes/HW_Types.cpp "$root"/framework/TComponent.cpp \
		-Wl,--wrap=open,--wrap=close,--wrap=ioctl,--wrap=iopl,--wrap=ioperm,--wrap=sigaction
}

pack_initramfs() {
	local rootfs=$work/rootfs
	rm -rf "$rootfs"
	mkdir -p "$rootfs"/{bin,dev,proc,sys,lib/modules,tests}
	cp /bin/busybox "$rootfs/bin/busybox"
	cp "$root/e2e/guest/init" "$rootfs/init"
	cp "$work/module/ferrox.ko" "$rootfs/lib/modules/"
	local program
	for program in "${programs[@]}"; do
		mkdir -p "$rootfs/tests/$(dirname "$program")"
		cp "$work/guest/$program" "$rootfs/tests/$program"
	done
	(cd "$rootfs" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -1 >"$work/initramfs.gz"
}

# The PC: two processors (so interrupts and the programs' requests really overlap), i440FX chipset,
# IDE disk on the primary controller, two parallel ports whose output goes to files, a serial
# console to a file, and the debug-exit port for the verdict.
boot() {
	run=$work/run
	rm -rf "$run"
	mkdir -p "$run"
	truncate -s 8M "$run/disk.img"
	log "booting the emulated PC"
	local started=$SECONDS
	set +e
	timeout -k 10 "$boot_timeout" qemu-system-x86_64 \
		-machine pc -accel tcg -smp 2 -m 256 -nodefaults -display none -no-reboot \
		-kernel "$vmlinuz" -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" \
		-serial "file:$run/console.log" \
		-chardev "file,id=lpt1,path=$run/lpt1.txt" -device isa-parallel,chardev=lpt1,iobase=0x378,irq=7,index=0 \
		-chardev "file,id=lpt2,path=$run/lpt2.txt" -device isa-parallel,chardev=lpt2,iobase=0x278,irq=5,index=1 \
		-drive "file=$run/disk.img,format=raw,if=none,id=disk" \
		-device "ide-hd,drive=disk,bus=ide.0,unit=0,model=$disk_model" \
		-chardev "file,id=recording64,path=$run/recording-x86_64.rec" -device isa-debugcon,iobase=0x4f8,chardev=recording64 \
		-chardev "file,id=recording32,path=$run/recording-i386.rec" -device isa-debugcon,iobase=0x4f9,chardev=recording32 \
		-device isa-debug-exit,iobase=0x501,iosize=1 \
		</dev/null >"$run/qemu.log" 2>&1
	qemu_status=$?
	set -e
	cat "$run/console.log" 2>/dev/null || true
	log "the emulated PC ran $((SECONDS - started)) s"
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
			fail "the printer on $port received other lines than the guest printed"
		fi
	done
}

# The recordings the guest made on the driver came out through the debug console ports. Where the
# host's tool is built, they replay on its virtual PC as the suite replays the copies kept in
# tests/trace (refresh those with: cp build/e2e/run/recording-*.rec tests/trace/emulated-pc-*.rec).
check_recordings() {
	local abi recording tool=$root/build/x86_64/tools/ferrox/ferrox session=$root/build/x86_64/tests/trace_session
	for abi in "${abis[@]}"; do
		recording=$run/recording-$abi.rec
		[ "$(head -c 8 "$recording" 2>/dev/null)" = FERROXRC ] || fail "the guest's recording $recording did not come out"
		if [ -x "$tool" ] && [ -x "$session" ]; then
			"$tool" replay --loose-timing --loose-polling "$recording" -- "$session" >/dev/null ||
				fail "the recording of the $abi guest does not replay on the host"
		fi
	done
	log "the guest's recordings came out$([ -x "$tool" ] && echo " and replay on the host")"
}

main() {
	ensure_packages
	fetch_kernel
	build_module
	build_guest_programs
	pack_initramfs
	boot
	case $qemu_status in
	"$pass_status") ;;
	124 | 137) fail "the emulated PC did not finish within $boot_timeout s" ;;
	*) fail "the guest reported failure (QEMU exit status $qemu_status; $(head -c 300 "$run/qemu.log"))" ;;
	esac
	check_printers
	check_recordings
	log "passed"
}

main "$@"
