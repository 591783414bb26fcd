# SPDX-License-Identifier: MIT
# The two commands of the README, and the builds behind them.
#   make demo   builds the tool and runs its tour on the built-in virtual PC
#   make test   installs what is missing, builds x86_64, x86_64 with sanitizers and i386, runs every test,
#               the thread tests under ThreadSanitizer and a short run of each fuzz target under libFuzzer
#   make e2e    the kernel driver and test programs of both ABIs on an emulated PC, with Debian's
#               bookworm and bookworm-backports kernels (e2e/run.sh)
#   make fuzz   the long fuzzing: FUZZ_SEQUENCES seeded call sequences and STRESS_SEEDS seeded
#               schedules of threads, forks, execs and signals under the sanitizers (and
#               STRESS_TRACED_SEEDS of them under ferrox trace and record), each
#               target under libFuzzer for FUZZ_SECONDS, then the driver fuzzer in the emulated PC
#               on each kernel and ABI for FUZZ_DRIVER_REQUESTS requests or FUZZ_SECONDS
#   make install     the x86_64 build into PREFIX (/usr/local; DESTDIR=... stages it)
#   make package     Debian packages of the x86_64 build in build/x86_64/packages
#   make check-install  the installed tree and the packages as users meet them (scripts/)
#   make spdx        writes the SPDX licence line into every source file that lacks it
#   make check-spdx  fails while a source file lacks its SPDX line (make test runs it as the test
#                    spdx_lines of the x86_64 build)
#   make bench          every operation on the virtual PC: the library's own instructions per call
#                       (x86_64 and i386, under callgrind) beside their goals, and the time per call;
#                       then a port read and 4 KiB blocks from Python beside C++
#   make bench-peers    the library beside /dev/port, ppdev, sysfs and /dev/mem in the emulated PC
#   make bench-results  both, written to bench/results/ with the chart and the README's tables

JOBS ?= $(shell nproc)
# The configurations are CMake presets (CMakePresets.json), each built in build/<preset>.
CONFIGS := x86_64 sanitize i386 tsan fuzz
PREFIX ?= /usr/local
FUZZ_SEQUENCES ?= 10000000
STRESS_SEEDS ?= 20000
STRESS_TRACED_SEEDS ?= 500
FUZZ_SECONDS ?= 600
FUZZ_DRIVER_REQUESTS ?= 5000000
# The virtual PC traps port instructions with SIGSEGV, which AddressSanitizer must leave to it.
FUZZ_ENV := ASAN_OPTIONS=handle_segv=0:detect_leaks=1:verify_asan_link_order=0

.PHONY: all deps demo test e2e fuzz install package lintian check-install spdx check-spdx bench bench-peers \
	bench-results

all: build-x86_64

deps:
	./scripts/install-deps.sh

# The generated Makefile marks a finished configuration (a failed one leaves only the cache). What
# the pattern rules make is kept, not removed as an intermediate file.
.SECONDARY:
build/%/Makefile:
	cmake --preset $*

build-%: build/%/Makefile
	cmake --build --preset $* -j $(JOBS)

# Each preset's tests: in tsan the interrupt tests, in fuzz a short run of each target under
# libFuzzer (the label fuzz), in x86_64 every source file's licence line among the others.
test-%: build-%
	ctest --preset $* -j $(JOBS)

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
# installed with dpkg and removed again, then once more as on a new machine (no /lib/modules).
check-install: build-x86_64 build-i386
	./scripts/check-install.sh x86_64
	./scripts/check-install.sh i386
	@if [ "$$(id -u)" -eq 0 ]; then $(MAKE) --no-print-directory package && ./scripts/check-packages.sh && \
	  ./scripts/check-fresh-machine.sh; \
	else echo "check-install: the packages are checked as root only"; fi

spdx:
	./scripts/check-spdx.sh --add

check-spdx:
	./scripts/check-spdx.sh

# The sequences and the schedules under the sanitizers, then each libFuzzer target in turn for FUZZ_SECONDS (the
# label fuzz-long), then the driver fuzzer in the emulated PC on the stable, backports and debug
# kernels for FUZZ_DRIVER_REQUESTS requests or FUZZ_SECONDS.
fuzz: deps build-sanitize build-fuzz build/x86_64/Makefile build/i386/Makefile
	$(FUZZ_ENV) ./build/sanitize/fuzz/fuzz_calls --seeds $(FUZZ_SEQUENCES) --jobs $(JOBS)
	$(FUZZ_ENV) ./build/sanitize/tests/vpc/vpc_stress --seeds $(STRESS_SEEDS)
	$(FUZZ_ENV) FERROX_STRESS_TRACED_SEEDS=$(STRESS_TRACED_SEEDS) ./build/sanitize/tests/cli/cli_test \
	  --gtest_filter=CliTrace.TheStressSchedulesPassTracedAndRecordedWithEveryCallKept
	cmake --preset fuzz -DFERROX_FUZZ_SECONDS=$(FUZZ_SECONDS) > /dev/null
	ctest --preset fuzz-long
	FERROX_E2E_BOOTS="stable backports debug" FERROX_E2E_TIMEOUT=$$((2 * $(FUZZ_SECONDS) + 300)) \
	  FERROX_E2E_KERNEL_ARGS="FERROX_PROGRAMS=fuzz FERROX_FUZZ_REQUESTS=$(FUZZ_DRIVER_REQUESTS) FERROX_FUZZ_SECONDS=$(FUZZ_SECONDS)" \
	  ./e2e/run.sh

E2E_DIR = $(or $(FERROX_E2E_DIR),build/e2e)
# Debian's, which install-deps.sh installs (with python3-matplotlib for the chart).
PYTHON = /usr/bin/python3

bench: deps build-x86_64 build-i386
	$(PYTHON) bench/report.py --build x86_64=build/x86_64 --build i386=build/i386 --json build/bench/virtual-pc.json
	$(PYTHON) bench/python_cost.py --build build/x86_64 --json build/bench/python.json

# The end-to-end run with the peer benchmarks at length (the other guest programs run as always).
# The slab allocator's checks that the stable boot switches on are off again (the later slub_debug
# wins): they record a stack trace at every allocation and free, which an interrupt's signal makes
# and a peer's wake-up does not, and no user's kernel runs them.
bench-peers: deps build/x86_64/Makefile build/i386/Makefile
	FERROX_E2E_BOOTS=stable FERROX_E2E_KERNEL_ARGS="ferrox_peers=full slub_debug=-" FERROX_E2E_TIMEOUT=900 ./e2e/run.sh
	$(PYTHON) bench/peers_report.py $$(ls -t $(E2E_DIR)/run-*/console.log | head -n1) --json build/bench/peers.json

bench-results: bench bench-peers
	./scripts/install-deps.sh python3-matplotlib
	$(PYTHON) bench/results_page.py build/bench/virtual-pc.json build/bench/peers.json --results bench/results \
	  --readme README.md

# Every configuration is tested even when an earlier one fails; the exit status reports any failure.
test: deps
	@status=0; for config in $(CONFIGS); do \
	  echo "== $$config"; $(MAKE) --no-print-directory test-$$config || status=1; \
	done; \
	echo "== e2e"; $(MAKE) --no-print-directory e2e || status=1; \
	echo "== install"; $(MAKE) --no-print-directory check-install || status=1; \
	exit $$status
