#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building and testing need, when some are missing, and those
# named as arguments (what one make target needs beyond them).
# shellcheck source=strict-mode.sh
source "$(dirname "$0")/strict-mode.sh"

packages=(
  build-essential cmake g++-multilib gcc-multilib
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qemu-user libcli11-dev libfmt-dev libtomlplusplus-dev libpng-dev
  # the ferrox tool: JSON, PCI names from pci.ids through libpci, waveform pictures with their font
  nlohmann-json3-dev libpci-dev pci.ids libcairo2-dev fonts-dejavu-core
  # its tests: lspci reads the dumps back, sigrok reads the captures, the JSON schema is checked
  pciutils sigrok-cli python3-jsonschema
  # packaging: manual pages, the install checks, the Debian packages
  scdoc groff-base pkgconf file dkms adduser
  # libFuzzer for the fuzz targets
  clang-14 libclang-rt-14-dev
  # the benchmarks: callgrind counts the library's instructions, python3 reports them
  valgrind python3
  # the Python package, built for Debian's python3 with Debian's pybind11, and its tests
  python3-dev pybind11-dev python3-pybind11 python3-pytest python3-numpy
  # the i386 ferrox tool (the i386 preset builds it as the native one): its libraries for i386
  libfmt-dev:i386 libpng-dev:i386 libpci-dev:i386 libcairo2-dev:i386 libfontconfig-dev:i386
  "$@"
)

# The i386 libraries come from Debian's multiarch: dpkg must know the architecture before apt can
# name them (and before dpkg-query tells an installed one from a missing one).
i386_missing=false
dpkg --print-foreign-architectures | grep -qx i386 || i386_missing=true

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if $i386_missing; then
  echo "adding the i386 architecture"
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
