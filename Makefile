# Tamberly: `make run` starts the program, `make test` runs every test. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
# The builds' own makes need not announce every folder they enter.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test test-sanitize bench fuzz format clean windows test-windows package

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@scripts/run $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

# Every test under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer, which stops at its first finding.
test-sanitize: deps
	@scripts/install-deps --sanitize
	@ASAN_OPTIONS=$${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1} \
		UBSAN_OPTIONS=$${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
		$(MAKE) --no-print-directory test BUILD=build-sanitize CMAKE_FLAGS="-DTAMBERLY_SANITIZE=ON"

# The Debian packages from a Release build of their three programs: build-package/tamberly_*.deb (the program and
# tamberly-check) and build-package/tamberly-listserver_*.deb (the list server as a systemd service).
package:
	@scripts/install-deps --package
	@cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DTAMBERLY_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-package -j$(JOBS)
	@cd build-package && cpack -G DEB
	@ls build-package/*.deb

# The native Windows program, cross-built with mingw-w64: build-windows/bin/tamberly.exe and its zip and installer.
windows:
	@scripts/install-deps --windows
	@cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
		-DTAMBERLY_GUI=OFF -DTAMBERLY_SERVER=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-windows -j$(JOBS)
	@scripts/package-windows build-windows

# The core tests and the Windows platform and window tests, under Wine in a prefix of the build folder's own.
test-windows: windows
	@scripts/test-windows build-windows

bench:
	@scripts/install-deps --bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAMBERLY_BENCH=ON -DTAMBERLY_TESTS=OFF >/dev/null
	@cmake --build build-bench -j$(JOBS)
	@$(MAKE) windows
	@bench/run build-bench

# Each fuzz target for FUZZ_SECONDS, from the seeds in fuzz/corpus; fails when one finds something.
fuzz:
	@scripts/install-deps --fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBERLY_FUZZ=ON \
		-DTAMBERLY_TESTS=OFF -DTAMBERLY_GUI=OFF >/dev/null
	@cmake --build build-fuzz --target tamberly_fuzzers -j$(JOBS)
	@fuzz/run build-fuzz $(FUZZ_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-bench build-fuzz build-windows build-package
