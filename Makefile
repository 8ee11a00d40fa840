# One entry point: `make test` and `make demo` work on a fresh machine.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The developers' builds stop at a warning; `make WERROR=OFF ...` builds through them.
WERROR ?= ON

.PHONY: all deps configure build test demo bench fuzz package clean windows windows-test

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCUBESEC_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Only the two programs the demo runs; the build's own output is shown only when it fails.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target cubesec cubesec-sim >$(BUILD)/demo-build.log 2>&1 \
	  || { cat $(BUILD)/demo-build.log; exit 1; }
	@scripts/demo $(BUILD)

bench: build
	@bench/run $(BUILD)

FUZZ_SECONDS ?= 60
fuzz: deps
	@scripts/fuzz $(FUZZ_SECONDS)

# The Debian packages from a Release build, installed into a temporary root and tried there.
package: deps
	@scripts/package-test build-release

# The Windows programs, cross-built with MinGW-w64: $(WIN_BUILD)/bin/cubesec.exe and
# cubesec-sim.exe. The first run installs the cross compilers and Wine and builds SQLite and
# GoogleTest into $(WIN_DEPS); later runs find them there.
WIN_BUILD ?= build-win
WIN_DEPS ?= build-win-deps
windows:
	@scripts/install-windows-deps $(WIN_DEPS)
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCUBESEC_WIN_DEPS=$(abspath $(WIN_DEPS)) -DCMAKE_BUILD_TYPE=Release -DCUBESEC_WERROR=$(WERROR) >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

# The Windows programs' unit tests and end-to-end tests under Wine, and the window once
# under Xvfb; the end-to-end harness is the Linux build's.
windows-test: windows build
	@scripts/windows-tests $(WIN_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD) build-*
