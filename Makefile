# Convenience wrapper: every target installs what is missing first.
BUILD_DIR := build
CMAKE_ARGS ?=
FUZZ_SECONDS ?= 60

.PHONY: all setup configure build run test bench fuzz clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	@if [ -x $(BUILD_DIR)/app/ferrocask ]; then \
		$(BUILD_DIR)/app/ferrocask; \
	else \
		echo "ferrocask: everything that exists is built, but the program itself is not built yet"; \
	fi

test: setup
	@scripts/run-tests.sh

bench: build
	@cmake --build $(BUILD_DIR) --target bench

# Every fuzz harness for FUZZ_SECONDS seconds (clang and libFuzzer, in build-fuzz/).
fuzz: setup
	@scripts/run-fuzzers.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz
