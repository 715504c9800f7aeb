# A thin layer over CMake and CTest. Every target installs what it needs first
# (scripts/install-deps is idempotent and quick when nothing is missing).

BUILD      ?= build
ASAN_BUILD ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps build asan test demo bench install format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD)

test: build asan
	ctest --test-dir $(BUILD) --output-on-failure
	ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -L unit --output-on-failure

demo: build
	python3 scripts/demo $(BUILD)/src/velmora-helper

bench: build
	python3 bench/run $(BUILD)

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
