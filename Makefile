# A thin layer over CMake and CTest. Plain `make` builds with what is there;
# `make deps` installs what building and running need, and the targets that
# run tests, benchmarks or the demo install what those need first
# (scripts/install-deps is idempotent and quick when nothing is missing).

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_SMOKE_SECONDS ?= 10
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps needs build build-tests asan fuzz-build fuzz test format-check demo sample bench install package \
  package-test format clean

all: build

# What the target asked for needs installed (scripts/install-deps kinds):
# nothing for a plain build, which says what is missing instead.
NEEDS =
test asan fuzz-build fuzz package-test: NEEDS = build test
bench: NEEDS = build bench
demo: NEEDS = build demo
sample: NEEDS = demo

deps:
	@scripts/install-deps build

needs:
	@$(if $(strip $(NEEDS)),scripts/install-deps $(NEEDS),:)

MISSING_HINT = { echo "make: configuring failed; 'make deps' installs what building needs (Debian 12)" >&2; exit 1; }

$(BUILD)/build.ninja: | needs
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS) \
	  || $(MISSING_HINT)

$(ASAN_BUILD)/build.ninja: | needs
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_TESTS=ON \
	  $(CMAKE_ARGS)

$(FUZZ_BUILD)/build.ninja: | needs
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF $(CMAKE_ARGS)

build: needs $(BUILD)/build.ninja
	cmake --build $(BUILD)

# The ordinary build with its tests: a build first configured without
# GoogleTest (after `make deps` alone) is configured again with them.
build-tests: needs $(BUILD)/build.ninja
	@grep -q '^VELMORA_BUILD_TESTS:BOOL=ON$$' $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DVELMORA_BUILD_TESTS=ON
	cmake --build $(BUILD)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: needs $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD)

# The libFuzzer targets, built with clang++ in their own directory.
fuzz-build: needs $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) --target fuzz_targets

# Every fuzz target for FUZZ_SECONDS each; the figures go into docs/robustness.md.
fuzz: fuzz-build
	python3 tests/fuzz/run_fuzz.py $(FUZZ_BUILD) $(FUZZ_SECONDS) --record docs/robustness.md

# Every C++ source as .clang-format lays it out (`make format` rewrites them so).
format-check: needs
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

# The layout check, a short run of every fuzz target, the unit tests under the
# sanitizers, then every test of the ordinary build (its summary is the last
# thing printed).
test: needs format-check build-tests asan fuzz-build
	python3 tests/fuzz/run_fuzz.py $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)
	ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -L unit --output-on-failure
	ctest --test-dir $(BUILD) --output-on-failure

demo: build
	python3 scripts/demo $(BUILD)/src/velmora-helper

# The sample engine in your home folder and the sample package
# $(BUILD)/Aurora.velmora, for a first try (see the README).
sample: needs
	@mkdir -p $(BUILD)
	python3 scripts/sample $(BUILD)/Aurora.velmora

bench: build
	python3 bench/run $(BUILD)

install: build
	cmake --install $(BUILD) --strip

# $(BUILD)/velmora-helper_<version>_<arch>.deb
package: build
	cmake --build $(BUILD) --target package

# Installs the package on this machine with apt-get, opens a link through
# xdg-open, and removes it again: see scripts/package-test.
package-test: package
	python3 scripts/package-test $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
