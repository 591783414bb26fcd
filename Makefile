# The two commands of the README, and the builds behind them.
#   make demo   builds the tool and runs its tour on the built-in virtual PC
#   make test   installs what is missing, builds x86_64, x86_64 with sanitizers and i386, runs every test
#   make e2e    the kernel driver and test programs of both ABIs on an emulated PC (e2e/run.sh)
#   make bench          every operation on the virtual PC: the library's own instructions per call
#                       (x86_64 and i386, under callgrind) beside their goals, and the time per call
#   make bench-peers    the library beside /dev/port, ppdev, sysfs and /dev/mem in the emulated PC
#   make bench-results  both, written to bench/results/ with the chart and the README's tables

JOBS ?= $(shell nproc)
CONFIGS := x86_64 sanitize i386

.PHONY: all deps demo test e2e bench bench-peers bench-results

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

e2e:
	@./e2e/run.sh

E2E_DIR = $(or $(FERROX_E2E_DIR),build/e2e)
# Debian's, which install-deps.sh installs (with python3-matplotlib for the chart).
PYTHON = /usr/bin/python3

bench: deps build-x86_64 build-i386
	$(PYTHON) bench/report.py --build x86_64=build/x86_64 --build i386=build/i386 --json build/bench/virtual-pc.json

# The end-to-end run with the peer benchmarks at length (the other guest programs run as always).
bench-peers: deps
	FERROX_E2E_KERNEL_ARGS=ferrox_peers=full FERROX_E2E_TIMEOUT=900 ./e2e/run.sh
	$(PYTHON) bench/peers_report.py $(E2E_DIR)/run/console.log --json build/bench/peers.json

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
	exit $$status
