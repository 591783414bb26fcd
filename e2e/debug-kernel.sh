#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the end-to-end suite's debug kernel: the source of Debian's bookworm kernel
# (linux-source-6.1, the newest in the package lists), configured from allnoconfig with
# e2e/debug-kernel.config (the emulated PC's devices, the guest's needs, KASAN, lockdep and
# might_sleep checks), built with its parallel-port modules. Leaves the source and build trees in
# DIR/debug-<package version>, and in DIR/<release>, laid out as the stock kernels' are, vmlinuz,
# modules/*.ko (uncompressed) and build (the tree external modules build against); prints the
# kernel's release. A finished build is reused.
#   e2e/debug-kernel.sh DIR
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/strict-mode.sh
source "$root/scripts/strict-mode.sh"
kernels=$1
make_jobs=${JOBS:-2}
package=linux-source-6.1

log() { echo "debug kernel [${SECONDS}s]: $*" >&2; }

version=$(apt-cache policy "$package" | sed -n 's/^ *Candidate: //p')
[ -n "$version" ] && [ "$version" != "(none)" ] || { echo "debug kernel: the package lists name no $package" >&2; exit 1; }
dir=$kernels/debug-$version
if [ -f "$dir/done" ]; then
	cat "$dir/release"
	exit 0
fi
rm -rf "$dir"
mkdir -p "$dir/debs" "$dir/modules"
log "fetching $package $version"
(cd "$dir/debs" && apt-get download -qq "$package=$version" 2>&1 | grep -v 'unsandboxed' >&2 || true)
log "unpacking the source"
dpkg-deb --fsys-tarfile "$dir"/debs/"$package"_*.deb | tar -x -O "./usr/src/$package.tar.xz" | xz -d -T"$make_jobs" |
	tar -x -C "$dir"
rm -rf "$dir/debs"
source_tree=$dir/$package
grep -v '^#' "$root/e2e/debug-kernel.config" >"$dir/config.fragment"
make -s -C "$source_tree" O="$dir/build" ARCH=x86_64 KCONFIG_ALLCONFIG="$dir/config.fragment" allnoconfig >&2
# allnoconfig drops what the fragment asks for when its dependencies are missing: say so and stop.
while read -r option; do
	grep -qx "$option" "$dir/build/.config" || { echo "debug kernel: the configuration lacks $option" >&2; exit 1; }
done < <(grep -o '^CONFIG_[A-Z0-9_]*=[ym]' "$dir/config.fragment")
log "building (make -j$make_jobs bzImage modules)"
started=$SECONDS
make -s -C "$source_tree" O="$dir/build" ARCH=x86_64 -j"$make_jobs" bzImage modules >"$dir/build.log" 2>&1 ||
	{ tail -50 "$dir/build.log" >&2; echo "debug kernel: the build failed" >&2; exit 1; }
log "built in $((SECONDS - started)) s"
cp "$dir/build/arch/x86/boot/bzImage" "$dir/vmlinuz"
find "$dir/build/drivers" -name '*.ko' -exec cp {} "$dir/modules/" \;
release=$(make -s -C "$source_tree" O="$dir/build" kernelrelease)
mkdir -p "$kernels/$release"
ln -sfn "$dir/vmlinuz" "$kernels/$release/vmlinuz"
ln -sfn "$dir/modules" "$kernels/$release/modules"
ln -sfn "$dir/build" "$kernels/$release/build"
echo "$release" >"$dir/release"
touch "$dir/done"
echo "$release"
