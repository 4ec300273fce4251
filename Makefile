# Entry points for a fresh Debian 12 machine. Each target installs what is
# missing (scripts/install-deps.sh), configures, builds and then does its job.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
METADIR ?=
# Where `make install` puts the files; DESTDIR=/some/root stages them below
# another root, as packaging does.
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: deps configure build run install uninstall test test-asan test-tsan fuzz bench clean

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DMORVEX_WERROR=ON -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Runs the service in the foreground without windows; Ctrl-C stops it.
# TOKEN=... (or MORVEX_TOKEN in the environment) is the sync password, needed
# at the first start; NAME=... the device name, METADIR=/path another profile
# folder. The password reaches the service through its environment, not its
# command line, which every user of the machine can read in ps.
TOKEN ?=
NAME ?=
run: export MORVEX_TOKEN := $(or $(TOKEN),$(MORVEX_TOKEN))
run: build
	$(BUILD_DIR)/bin/morvex --headless $(if $(NAME),-n '$(NAME)') $(if $(METADIR),-m $(METADIR))

# Installs morvex and morvexctl into PREFIX/bin, their manual pages, the
# bash completion of morvexctl, the systemd user unit (PREFIX/lib/systemd/user)
# and the README. The list of what was installed stays in the build folder's
# install_manifest.txt; `make uninstall` removes exactly those files.
install: build
	DESTDIR='$(DESTDIR)' cmake --install $(BUILD_DIR)

MANIFEST ?= $(BUILD_DIR)/install_manifest.txt
uninstall:
	DESTDIR='$(DESTDIR)' cmake -DMANIFEST='$(MANIFEST)' -P cmake/Uninstall.cmake

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVEX_SANITIZE=address,undefined -DMORVEX_BUILD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# The threaded parts (label "threads") under ThreadSanitizer; the desktop,
# whose tests carry no such label, is not built there.
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVEX_SANITIZE=thread -DMORVEX_BUILD_BENCH=OFF -DMORVEX_DESKTOP=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L threads

# The fuzz targets of tests/fuzz, built with clang and libFuzzer in a build
# folder of their own (only they and the libraries they need), each run for
# FUZZ_SECONDS; prints the inputs each ran and fails on a crash. Warnings
# are errors here too: clang sees some that gcc does not.
FUZZ_SECONDS ?= 60
FUZZ_DIR ?= build-fuzz
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DMORVEX_FUZZ=ON -DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF -DMORVEX_WERROR=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets
	bash scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Every benchmark in bench/: the Google Benchmark binaries, then the drivers
# through their scripts, which measure against public tools in the same run.
# sync.sh needs root for its network namespaces; without root it is skipped
# with a note rather than failing the other results.
bench: build
	$(BUILD_DIR)/bin/store_bench
	$(BUILD_DIR)/bin/crypto_bench
	bash bench/fingerprint.sh -d $(BUILD_DIR)/bin/fingerprint_driver
	BIN_DIR=$(BUILD_DIR)/bin bash bench/rescan.sh
	scratch=$$(mktemp -d /tmp/morvex-latency-XXXXXX) && mkdir -p $$scratch/tree $$scratch/meta && \
	  { $(BUILD_DIR)/bin/latency_driver $$scratch/tree $$scratch/meta; status=$$?; rm -rf $$scratch; exit $$status; }
	if [ "$$(id -u)" -eq 0 ]; then BIN_DIR=$(BUILD_DIR)/bin bash bench/sync.sh; else echo "bench/sync.sh skipped: needs root (network namespaces)"; fi

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan $(FUZZ_DIR)
