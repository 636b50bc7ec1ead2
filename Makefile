# Two commands do all set-up on a fresh Debian 12 machine:
#   make run   installs what is missing, builds and starts Pulsewatch
#   make test  installs what is missing, builds and runs every test (CTest)
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
PREFIX ?= $(HOME)/.local
AUTOSTART_DIR ?= $(or $(XDG_CONFIG_HOME),$(HOME)/.config)/autostart

.PHONY: all deps configure build run test test-sanitize bench install format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/pulsewatch

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPW_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/bin/bench_probe
	$(BUILD)/bin/bench_record
	$(BUILD)/bin/bench_jis
	$(BUILD)/bin/bench_sendmail
	$(BUILD)/bin/bench_logview
	$(BUILD)/bin/bench_cycle
	$(BUILD)/bin/bench_notice
	$(BUILD)/bin/bench_store
	$(BUILD)/bin/bench_alarm

# Installs for the current user: program folder $(PREFIX)/lib/pulsewatch,
# menu entry, hicolor icon, and an autostart entry so it starts at login.
install: build
	@cmake -S . -B $(BUILD) -DPW_AUTOSTART_DIR=$(AUTOSTART_DIR) >/dev/null
	cmake --install $(BUILD) --prefix $(PREFIX)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
