# The two commands of the README, and the builds behind them.
#   make demo   builds the tool and runs its tour on the built-in virtual PC
#   make test   installs what is missing, builds x86_64, x86_64 with sanitizers and i386, runs every test

JOBS ?= $(shell nproc)
CONFIGS := x86_64 sanitize i386

.PHONY: all deps demo test

all: build-x86_64

deps:
	./scripts/install-deps.sh

build/x86_64/CMakeCache.txt:
	cmake -S . -B build/x86_64
build/sanitize/CMakeCache.txt:
	cmake -S . -B build/sanitize -DFERROX_SANITIZE=ON
build/i386/CMakeCache.txt:
	cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.toolchain.cmake

build-%: build/%/CMakeCache.txt
	cmake --build build/$* -j $(JOBS)

test-%: build-%
	ctest --test-dir build/$* --output-on-failure -j $(JOBS)

demo: deps build-x86_64
	./build/x86_64/tools/ferrox/ferrox demo

# Every configuration is tested even when an earlier one fails; the exit status reports any failure.
test: deps
	@status=0; for config in $(CONFIGS); do \
	  echo "== $$config"; $(MAKE) --no-print-directory test-$$config || status=1; \
	done; exit $$status
