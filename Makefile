# One entry point: `make test` and `make demo` work on a fresh machine.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The developers' builds stop at a warning; `make WERROR=OFF ...` builds through them.
WERROR ?= ON

.PHONY: all deps configure build test demo bench fuzz package clean

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

clean:
	rm -rf $(BUILD) build-*
