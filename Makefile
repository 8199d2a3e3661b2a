# Entry points: `make run` and `make test` (see README.md).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE ?= cmake
FUZZ_SECONDS ?= 30
# The formatter is pinned to the version scripts/setup.sh installs, so every machine
# formats alike.
CLANG_FORMAT ?= clang-format-14
FORMAT_FILES = $(wildcard utils/*.h utils/*.cc jsx/*.h jsx/*.cc tools/*.h tools/*.cc \
  test/*/*.h test/*/*.cc bench/*.cc examples/*/*.h examples/*/*.cc)

.PHONY: all setup build run test test-normal test-asan test-tsan fuzz bench format format-check clean

all: build

setup:
	@sh scripts/setup.sh

build: setup
	@$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build build -j $(JOBS)

run: setup
	@$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build build -j $(JOBS) --target jsxc run-loop async-copy
	@sh scripts/run-examples.sh build/jsxc
	@sh scripts/run-runtime-examples.sh build/examples

test: setup test-normal test-asan test-tsan fuzz

test-normal:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(CMAKE) --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNUBRIX_SANITIZE=address >/dev/null
	$(CMAKE) --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

test-tsan:
	$(CMAKE) -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBRIX_SANITIZE=thread >/dev/null
	$(CMAKE) --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L threaded

fuzz:
	CXX=clang++ CC=clang $(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNUBRIX_TESTS=OFF -DNUBRIX_FUZZ=ON >/dev/null
	$(CMAKE) --build build-fuzz -j $(JOBS) --target fuzz_transpile
	sh scripts/run-fuzz.sh build-fuzz/test/fuzz/fuzz_transpile $(FUZZ_SECONDS)

bench: setup
	$(CMAKE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DNUBRIX_BENCH=ON -DNUBRIX_TESTS=OFF >/dev/null
	$(CMAKE) --build build-bench -j $(JOBS)
	@for b in build-bench/bench/*_bench; do echo "== $$b"; $$b; done

format: setup
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

# Fails, naming each place, when a file is not formatted as `make format` would.
format-check: setup
	$(CLANG_FORMAT) --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
