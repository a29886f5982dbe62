# Conveniences beside the README's two commands (./scripts/test, ./scripts/demo). Every
# target installs what is missing first, but make itself must be there: on a fresh
# machine start with the scripts.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test asan tsan fuzz clean demo package

all: build

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test:
	./scripts/test

# Debian packages of the libraries and programs, in build/.
package: build
	cmake --build build --target package

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEVROLINK_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

# The tests where threads meet: the library called from several threads, the manager's
# worker beside its window thread, meradond's main loop beside the MQTT client's thread and
# the history store's writer (meradond runs as a child, and stops at its first report).
TSAN_TARGETS = integration_tests manager_core_tests manager_hostsim_tests cli_tests
TSAN_TESTS = ConcurrentExports|SpscQueue|WindowRequest|Manager\.|WithHostSim|LoopSending\.|LinkLoss\.|SendingUnderFaults.*/(Loss5Udp|RestartUdp|LostAckUdpNoResend)|UnansweredActivation|HistoryStore\.|Meradond/Bridge

tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEVROLINK_TSAN=ON $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# libFuzzer targets over the receive path and every parser of received bytes, built with
# clang in build-fuzz/ and run FUZZ_SECONDS each on their seed corpora.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS ?= serial_receive udp_receive packet_profiles discovery_answer station_bitmaps trace_writer bridge_request

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTEVROLINK_FUZZ=ON -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	tests/fuzz/run_targets.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Meradon against a stand-in host node with a small live network on 127.0.0.1.
demo:
	./scripts/demo

clean:
	rm -rf build build-asan build-tsan build-fuzz
