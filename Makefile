# Convenience wrapper: every target installs what is missing first.
BUILD_DIR := build
CMAKE_ARGS ?=
PREFIX ?= $(HOME)/.local
FUZZ_SECONDS ?= 60
# The vault key offset, for example `make run FERROCASK_KEY_OFFSET=200` to read a vault made
# by a build with offset 200. Handed to every configure step below in the environment (the
# top CMakeLists.txt takes it from there), the test scripts' included; each build folder
# keeps it in its cache until another is given.
FERROCASK_KEY_OFFSET ?=
ifneq ($(strip $(FERROCASK_KEY_OFFSET)),)
export FERROCASK_KEY_OFFSET
endif

.PHONY: all setup configure build run install test bench fuzz clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

# From the program's own folder, where its help file lies (and the vault is made).
run: build
	@cd $(BUILD_DIR)/app && ./ferrocask

# The program folder $(PREFIX)/lib/ferrocask/ (program, help.txt, interface font, icon; the
# vault goes there too), the icon in $(PREFIX)/share/icons/hicolor/ and
# $(PREFIX)/share/applications/ferrocask.desktop.
install: build
	@cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

test: setup
	@scripts/run-tests.sh

# The program's own benchmark opens its window: on an X server of its own when there is no
# display.
bench: build
	@if [ -n "$$DISPLAY" ]; then cmake --build $(BUILD_DIR) --target bench; \
	else xvfb-run -a -s "-screen 0 1280x1024x24" cmake --build $(BUILD_DIR) --target bench; fi

# Every fuzz harness for FUZZ_SECONDS seconds (clang and libFuzzer, in build-fuzz/).
fuzz: setup
	@scripts/run-fuzzers.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz
