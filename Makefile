# SPDX-License-Identifier: MIT
# The two commands of the README, and the builds behind them.
#   make demo   builds the tool and runs its tour on the built-in virtual PC
#   make test   installs what is missing, builds x86_64, x86_64 with sanitizers and i386, runs every test,
#               the thread tests under ThreadSanitizer and a short run of each fuzz target under libFuzzer
#   make e2e    the kernel driver and test programs of both ABIs on an emulated PC, with Debian's
#               bookworm and bookworm-backports kernels (e2e/run.sh)
#   make fuzz   the long fuzzing: FUZZ_SEQUENCES seeded call sequences under the sanitizers, each
#               target under libFuzzer for FUZZ_SECONDS, then the driver fuzzer in the emulated PC
#               on each kernel and ABI for FUZZ_DRIVER_REQUESTS requests or FUZZ_SECONDS
#   make install     the x86_64 build into PREFIX (/usr/local; DESTDIR=... stages it)
#   make package     Debian packages of the x86_64 build in build/x86_64/packages
#   make check-install  the installed tree and the packages as users meet them (scripts/)
#   make spdx        writes the SPDX licence line into every source file that lacks it
#   make check-spdx  fails while a source file lacks its SPDX line (make test runs it)
#   make bench          every operation on the virtual PC: the library's own instructions per call
#                       (x86_64 and i386, under callgrind) beside their goals, and the time per call
#   make bench-peers    the library beside /dev/port, ppdev, sysfs and /dev/mem in the emulated PC
#   make bench-results  both, written to bench/results/ with the chart and the README's tables

JOBS ?= $(shell nproc)
CONFIGS := x86_64 sanitize i386 tsan fuzz
PREFIX ?= /usr/local
FUZZ_SEQUENCES ?= 10000000
FUZZ_SECONDS ?= 600
FUZZ_DRIVER_REQUESTS ?= 5000000
FUZZ_TARGETS := calls form machine_file recording
# The virtual PC traps port instructions with SIGSEGV, which AddressSanitizer must leave to it; it
# comes ahead of the C library, and so, in the libFuzzer build, ahead of the sanitizers' runtime.
FUZZ_ENV := ASAN_OPTIONS=handle_segv=0:detect_leaks=1:verify_asan_link_order=0

.PHONY: all deps demo test e2e fuzz install package lintian check-install spdx check-spdx bench bench-peers \
	bench-results

all: build-x86_64

deps:
	./scripts/install-deps.sh

build/x86_64/Makefile:
	cmake -S . -B build/x86_64
build/sanitize/Makefile:
	cmake -S . -B build/sanitize -DFERROX_SANITIZE=ON
build/i386/Makefile:
	cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.toolchain.cmake
build/tsan/Makefile:
	cmake -S . -B build/tsan -DFERROX_TSAN=ON
# libFuzzer comes with Debian's clang; its own assertions stay on (no NDEBUG), so that a broken
# precondition in a library the targets use ends the run.
build/fuzz/Makefile:
	cmake -S . -B build/fuzz -DFERROX_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"

# The generated Makefile marks a finished configuration (a failed one leaves only the cache).
build-%: build/%/Makefile
	cmake --build build/$* -j $(JOBS)

test-%: build-%
	ctest --test-dir build/$* --output-on-failure -j $(JOBS)

# ThreadSanitizer: the tests of interrupts, taken on this thread and on others (the rest of the
# suite runs on one thread). Not the single-stepped one: ThreadSanitizer holds back the signals its
# trap handler sends until a point of its own choosing.
build-tsan: build/tsan/Makefile
	cmake --build build/tsan -j $(JOBS) --target thread_test interrupt_test
test-tsan: build-tsan
	ctest --test-dir build/tsan --output-on-failure -j $(JOBS) -R 'Interrupt' -E 'NeverAMix'

# libFuzzer: each target from its corpus (the inputs it finds are kept in build/fuzz/corpus, what
# breaks it in build/fuzz/crashes), with the run's options; the last line of each run is shown,
# the end of its log when it fails.
build-fuzz: build/fuzz/Makefile
	cmake --build build/fuzz -j $(JOBS)
define run_libfuzzer
	@mkdir -p build/fuzz/crashes; for target in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$target; log=build/fuzz/fuzz_$$target.log; \
	  if ! $(FUZZ_ENV) ./build/fuzz/fuzz/fuzz_$$target $(1) -artifact_prefix=build/fuzz/crashes/ \
	      build/fuzz/corpus/$$target fuzz/corpus/$$target > $$log 2>&1; then tail -40 $$log; exit 1; fi; \
	  echo "fuzz_$$target: $$(tail -1 $$log)"; \
	done
endef
test-fuzz: build-fuzz
	$(call run_libfuzzer,-runs=20000)

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

fuzz: deps build-sanitize build-fuzz build/x86_64/Makefile build/i386/Makefile
	$(FUZZ_ENV) ./build/sanitize/fuzz/fuzz_calls --seeds $(FUZZ_SEQUENCES) --jobs $(JOBS)
	$(call run_libfuzzer,-max_total_time=$(FUZZ_SECONDS))
	FERROX_E2E_BOOTS="stable backports debug" FERROX_E2E_TIMEOUT=$$((2 * $(FUZZ_SECONDS) + 300)) \
	  FERROX_E2E_KERNEL_ARGS="FERROX_PROGRAMS=fuzz FERROX_FUZZ_REQUESTS=$(FUZZ_DRIVER_REQUESTS) FERROX_FUZZ_SECONDS=$(FUZZ_SECONDS)" \
	  ./e2e/run.sh

E2E_DIR = $(or $(FERROX_E2E_DIR),build/e2e)
# Debian's, which install-deps.sh installs (with python3-matplotlib for the chart).
PYTHON = /usr/bin/python3

bench: deps build-x86_64 build-i386
	$(PYTHON) bench/report.py --build x86_64=build/x86_64 --build i386=build/i386 --json build/bench/virtual-pc.json

# The end-to-end run with the peer benchmarks at length (the other guest programs run as always).
bench-peers: deps build/x86_64/Makefile build/i386/Makefile
	FERROX_E2E_BOOTS=stable FERROX_E2E_KERNEL_ARGS=ferrox_peers=full FERROX_E2E_TIMEOUT=900 ./e2e/run.sh
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
	echo "== spdx"; $(MAKE) --no-print-directory check-spdx || status=1; \
	exit $$status
