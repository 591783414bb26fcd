#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package check as a new Debian machine meets it: no kernel headers and no /lib/modules at all.
# As root, after make package: check-packages.sh runs twice in a mount namespace of its own, once
# with /lib/modules an empty tmpfs and once with /lib/modules absent, without the headers that
# make e2e fetched; each run must pass and say that it did not try the DKMS build. Nothing outside
# the namespaces changes (the packages are purged at the end of each run, as always).
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=strict-mode.sh
source "$root/scripts/strict-mode.sh"

skip_line='no kernel headers (none installed in /lib/modules, none fetched by make e2e into'

fail() {
	echo "check-fresh-machine: FAILED: $*" >&2
	exit 1
}
log() { echo "check-fresh-machine [${SECONDS}s]: $*"; }

[ "$(id -u)" -eq 0 ] || fail "mount namespaces need root"
if ! unshare -m --propagation private true 2>/dev/null; then
	log "skipped: this machine refuses mount namespaces (unshare -m)"
	exit 0
fi

# Runs in the new namespace: /lib/modules made as LAYOUT says ("empty" or "absent"), then the
# package check. /lib is /usr/lib on Debian; where /lib/modules has to appear or vanish, an overlay
# over its parent directory adds it or whites it out.
in_namespace() {
	local layout=$1 scratch=$2 modules parent
	modules=$(realpath -m /lib/modules)
	parent=$(dirname "$modules")
	if [ "$layout" = empty ] && [ ! -d "$modules" ]; then
		mkdir -p "$scratch/upper/modules" "$scratch/work"
		mount -t overlay overlay -o "lowerdir=$parent,upperdir=$scratch/upper,workdir=$scratch/work" "$parent"
	elif [ "$layout" = absent ] && [ -e "$modules" ]; then
		mkdir -p "$scratch/upper" "$scratch/work"
		mknod "$scratch/upper/modules" c 0 0 # an overlay's whiteout
		mount -t overlay overlay -o "lowerdir=$parent,upperdir=$scratch/upper,workdir=$scratch/work" "$parent"
	fi
	if [ "$layout" = empty ]; then
		mount -t tmpfs none "$modules"
		[ -d /lib/modules ] && [ -z "$(ls -A /lib/modules)" ] || fail "/lib/modules is not empty in the namespace"
	else
		[ ! -e /lib/modules ] || fail "/lib/modules is still there in the namespace"
	fi
	FERROX_E2E_DIR=$scratch/no-e2e "$root/scripts/check-packages.sh"
}

if [ "${1:-}" = --in-namespace ]; then
	in_namespace "$2" "$3"
	exit 0
fi

for layout in empty absent; do
	scratch=$(mktemp -d)
	output=$(unshare -m --propagation private "$0" --in-namespace "$layout" "$scratch" 2>&1) || {
		echo "$output"
		rm -rf "$scratch"
		fail "the package check failed with /lib/modules $layout"
	}
	rm -rf "$scratch"
	grep -qF "$skip_line" <<<"$output" || { echo "$output"; fail "the package check did not say it skipped DKMS ($layout)"; }
	log "the package check passed with /lib/modules $layout, and said: $(grep -F "$skip_line" <<<"$output" | sed 's/^[^:]*: //')"
done
