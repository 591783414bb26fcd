#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# The doctor's verdicts, from the tool of the ABI named first (x86_64 or i386), in each situation the
# guest is put in, line by line against the scenario's file beside this script ({release} stands for
# the running kernel's; both ABIs' tools show the same lines), and its exit status:
#   absent   the module built for this kernel but not loaded
#   loaded   loaded; then the kernel's parallel-port and printer drivers holding LPT1; then a user
#            outside the node's group, and one in it with CAP_SYS_RAWIO; then a seccomp filter
#            refusing iopl
#   refused  the kernel booted with module.sig_enforce=1 or locked down refused the module
# /init runs it; the tool and its libraries are in the guest (e2e/run.sh), as is the sandbox of the
# same ABI that runs it as another user or under a filter (e2e/guest/sandbox), whose filter names
# the system calls by that ABI's numbers.
abi=$1
shift
tool=/tools/$abi/ferrox
sandbox=/tests/$abi/sandbox
here=$(dirname "$0")
release=$(uname -r)
failures=0

fault() {
	echo "doctor ($abi): FAILED $*"
	failures=$((failures + 1))
}

# scenario NAME STATUS [SANDBOX OPTIONS...]: the doctor run as the options say shows NAME's lines
# and exits with STATUS.
scenario() {
	local name=$1 status=$2 got
	shift 2
	echo "== doctor ($abi): $name"
	"$sandbox" "$@" -- "$tool" doctor >/tmp/doctor.out 2>/tmp/doctor.err
	got=$?
	cat /tmp/doctor.out
	sed "s/{release}/$release/g" "$here/$name.txt" >/tmp/doctor.expected
	diff /tmp/doctor.expected /tmp/doctor.out || fault "$name: the doctor's lines differ from $name.txt (above)"
	[ "$got" -eq "$status" ] || fault "$name: exit status $got, not $status: $(cat /tmp/doctor.err)"
}

# A user of the PC, and the node's group as the package's udev rule sets it.
add_users() {
	mkdir -p /etc
	echo 'root:x:0:0:root:/:/bin/sh' >/etc/passwd
	echo 'tester:x:1000:1000:tester:/:/bin/sh' >>/etc/passwd
	printf '%s\n' 'root:x:0:' 'ferrox:x:200:' 'tester:x:1000:' >/etc/group
}

# The kernel's port driver on LPT1 with its interrupt, and the line printer on it.
parport_drivers() {
	insmod /lib/modules/parport.ko &&
		insmod /lib/modules/parport_pc.ko io=0x378 irq=7 &&
		insmod /lib/modules/lp.ko
}

users() {
	chgrp ferrox /dev/ferrox && chmod 660 /dev/ferrox || fault "the node's group and mode"
	scenario stranger 1 --user 1000:1000
	scenario member 0 --user 1000:1000:200 --raw-io
	"$sandbox" --user 1000:1000:200 --raw-io -- "$tool" port read 0x379 >/dev/null || fault "a member of ferrox cannot read a port"
	chgrp root /dev/ferrox && chmod 600 /dev/ferrox
}

mkdir -p /tmp
add_users
case $1 in
absent) scenario absent 1 ;;
loaded)
	scenario loaded 0
	if parport_drivers; then
		scenario parport 0
	else
		fault "the kernel's parallel-port drivers did not load"
	fi
	rmmod lp parport_pc parport
	users
	scenario seccomp 0 --refuse-iopl
	;;
refused)
	if [ "$(cat /sys/module/module/parameters/sig_enforce)" = Y ]; then
		scenario sig_enforce 1
	else
		scenario lockdown 1
	fi
	;;
esac
[ "$failures" -eq 0 ]
