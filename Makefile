# The two commands of the README, and the builds behind them.
#   make demo   builds the tool and runs its tour on the built-in virtual PC
#   make test   installs what is missing, builds x86_64, x86_64 with sanitizers and i386, runs every test
#   make e2e    the kernel driver and test programs of both ABIs on an emulated PC, with Debian's
#               bookworm and bookworm-backports kernels (e2e/run.sh)
#   make install     the x86_64 build into PREFIX (/usr/local; DESTDIR=... stages it)
#   make package     Debian packages of the x86_64 build in build/x86_64/packages
#   make check-install  the installed tree and the packages as users meet them (scripts/)
#   make spdx        writes the SPDX licence line into every source file that lacks it
#   make check-spdx  fails while a source file lacks its SPDX line

JOBS ?= $(shell nproc)
CONFIGS := x86_64 sanitize i386
PREFIX ?= /usr/local

.PHONY: all deps demo test e2e install package lintian check-install spdx check-spdx

all: build-x86_64

deps:
	./scripts/install-deps.sh

build/x86_64/Makefile:
	cmake -S . -B build/x86_64
build/sanitize/Makefile:
	cmake -S . -B build/sanitize -DFERROX_SANITIZE=ON
build/i386/Makefile:
	cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.toolchain.cmake

# The generated Makefile marks a finished configuration (a failed one leaves only the cache).
build-%: build/%/Makefile
	cmake --build build/$* -j $(JOBS)

test-%: build-%
	ctest --test-dir build/$* --output-on-failure -j $(JOBS)

demo: deps build-x86_64
	./build/x86_64/tools/ferrox/ferrox demo

# The guest's programs are targets of the x86_64 and i386 trees; the run builds them.
e2e: deps build/x86_64/Makefile build/i386/Makefile
	@./e2e/run.sh

install: build-x86_64
	cmake --install build/x86_64 --prefix $(PREFIX)

package: build-x86_64
	cd build/x86_64 && cpack

lintian:
	lintian --pedantic build/x86_64/packages/*.deb

# Staging installs of both ABIs with the examples built against them; as root, also the packages
# installed with dpkg and removed again.
check-install: build-x86_64 build-i386
	./scripts/check-install.sh x86_64
	./scripts/check-install.sh i386
	@if [ "$$(id -u)" -eq 0 ]; then $(MAKE) --no-print-directory package && ./scripts/check-packages.sh; \
	else echo "check-install: the packages are checked as root only"; fi

spdx:
	./scripts/check-spdx.sh --add

check-spdx:
	./scripts/check-spdx.sh

# Every configuration is tested even when an earlier one fails; the exit status reports any failure.
test: deps
	@status=0; for config in $(CONFIGS); do \
	  echo "== $$config"; $(MAKE) --no-print-directory test-$$config || status=1; \
	done; \
	echo "== e2e"; $(MAKE) --no-print-directory e2e || status=1; \
	echo "== install"; $(MAKE) --no-print-directory check-install || status=1; \
	exit $$status
