# A thin layer over CMake and CTest. Every target installs what it needs first
# (scripts/install-deps is idempotent and quick when nothing is missing).

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_SMOKE_SECONDS ?= 10
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps build asan fuzz-build fuzz test demo sample bench install package package-test format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON $(CMAKE_ARGS)

$(FUZZ_BUILD)/build.ninja: | deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD)

# The libFuzzer targets, built with clang++ in their own directory.
fuzz-build: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) --target fuzz_targets

# Every fuzz target for FUZZ_SECONDS each; the figures go into docs/robustness.md.
fuzz: fuzz-build
	python3 tests/fuzz/run_fuzz.py $(FUZZ_BUILD) $(FUZZ_SECONDS) --record docs/robustness.md

# A short run of every fuzz target, the unit tests under the sanitizers, then
# every test of the ordinary build (its summary is the last thing printed).
test: build asan fuzz-build
	python3 tests/fuzz/run_fuzz.py $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)
	ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -L unit --output-on-failure
	ctest --test-dir $(BUILD) --output-on-failure

demo: build
	python3 scripts/demo $(BUILD)/src/velmora-helper

# The sample engine in your home folder and the sample package
# $(BUILD)/Aurora.velmora, for a first try (see the README).
sample:
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
