# The two set-up commands of the README, and the builds behind them.
#
#   make run    build the host preset and run the daemon on the virtual notebook
#   make test   build every preset and run every test (unit, system, Wine)
#   make host | host-asan | host-tsan | windows   one preset
#   make fuzz [FUZZ_SECONDS=180] [FUZZ_TARGETS="cmdline scenario"]
#               build the libFuzzer harnesses and run each for that long
#   make fault-sweep   fail every call of every kind once, host and ASan builds

SHELL := /bin/bash
.DEFAULT_GOAL := run

HOST_PKGS := g++ cmake ninja-build make clang-format libgtest-dev libgmock-dev googletest libbenchmark-dev
# The fuzz preset: clang with libFuzzer and the sanitizer runtimes.
FUZZ_PKGS := clang libclang-rt-14-dev
# sigrok-cli decodes qxsim's waveform with sigrok's own I2C decoder; Chromium
# (with python3 to look at its screenshot) opens qxsim's timeline page.
TEST_PKGS := $(HOST_PKGS) g++-mingw-w64-x86-64-posix wine wine64 msitools wixl osslsigncode openssl valgrind \
             sigrok-cli chromium python3 $(FUZZ_PKGS)

JOBS ?= $(shell nproc)

.PHONY: run test host host-asan host-tsan windows fuzz fuzz-build fault-sweep deps-host deps-test deps-fuzz clean

deps-host:
	@tools/ensure-packages.sh $(HOST_PKGS)

deps-test:
	@tools/ensure-packages.sh $(TEST_PKGS)

deps-fuzz:
	@tools/ensure-packages.sh $(HOST_PKGS) $(FUZZ_PKGS)

host: deps-host
	cmake --preset host >/dev/null
	cmake --build build/host -j $(JOBS)

host-asan host-tsan: deps-host
	cmake --preset $@ >/dev/null
	cmake --build build/$@ -j $(JOBS)

windows: deps-test
	cmake --preset windows >/dev/null
	cmake --build build/windows -j $(JOBS)
	rm -rf dist/windows
	cmake --install build/windows --prefix dist/windows >/dev/null
	@echo "Windows deliverables in dist/windows/"

# The daemon as the service runs it, on the virtual notebook, through a
# stretch of ordinary use played 100 times faster than real time. The last
# line is the path of the session's timeline page.
RUN_PAGE := build/host/qxsim-run.html
run: deps-host
	cmake --preset host >/dev/null
	cmake --build build/host -j $(JOBS) --target qxsim
	build/host/tools/qxsim/qxsim --speed 100 --html $(RUN_PAGE) -- -a 3 -n 515 -o 134349066 -r 250 -v 3
	@echo "$(abspath $(RUN_PAGE))"

test: deps-test
	$(MAKE) --no-print-directory host host-asan host-tsan windows fuzz-build
	ctest --preset host

# The libFuzzer harnesses of tests/fuzz. make test runs each for a few
# seconds (ctest fuzz.*); a campaign runs them here, each for FUZZ_SECONDS,
# keeping what they learn in build/fuzz/campaign/<name>/corpus across runs.
FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?= $(notdir $(basename $(wildcard tests/fuzz/*_fuzz.cpp)))
fuzz-build: deps-fuzz
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target qx_fuzzers

fuzz: fuzz-build
	@failed=0; for t in $(patsubst %_fuzz,%,$(FUZZ_TARGETS)); do \
	    bash tests/fuzz/run-fuzzer.sh build/fuzz/tests/fuzz/fuzz_$$t tests/fuzz/corpus/$$t \
	        build/fuzz/campaign/$$t $(FUZZ_SECONDS) || failed=1; \
	done; exit $$failed

# The fault sweep with every call index of every kind (ctest samples the
# kinds with many calls), in the host and the ASan build.
fault-sweep: deps-host
	@for preset in host host-asan; do \
	    cmake --preset $$preset >/dev/null && \
	    cmake --build build/$$preset -j $(JOBS) --target system_fault_sweep_test || exit 1; \
	done
	QX_FAULT_SWEEP=full build/host/tests/system/system_fault_sweep_test --gtest_filter='FaultSweep*'
	QX_FAULT_SWEEP=full ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    build/host-asan/tests/system/system_fault_sweep_test --gtest_filter='FaultSweep*'

clean:
	rm -rf build dist
