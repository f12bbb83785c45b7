# The usual entry points. `make demo` and `make check` install what they need (as root, on Debian 12).
# Every build here treats warnings as errors; a plain `cmake` build (a distribution's) does not.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

FUZZ_BUILD ?= build-fuzz
RELEASE_BUILD ?= build-release
STRICT = -DKESTROVA_WERROR=ON

.PHONY: deps configure build build-asan build-fuzz build-release check check-asan check-fuzz check-package demo clean

deps:
	bash .ci/install-deps

# One configuration for `make build`, `make check` and `make demo`: after `make demo`, `make check`
# builds only what the demo did not need.
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_BENCH=ON $(STRICT)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_SANITIZE=ON $(STRICT)
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Every test: unit, fuzz and whole-program tests in the normal build.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit tests and the tests against a throwaway realm under AddressSanitizer and UndefinedBehaviorSanitizer.
check-asan: build-asan
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L 'unit|realm'

build-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_FUZZ=ON $(STRICT)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The libFuzzer targets, each for a bounded time.
check-fuzz: build-fuzz
	cd $(FUZZ_BUILD) && ctest --output-on-failure -L fuzz

# The installed programs as Debian builds them: Release with dpkg-buildflags' hardening flags.
build-release:
	eval "$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)" && \
	  CFLAGS="$$CFLAGS $$CPPFLAGS" CXXFLAGS="$$CXXFLAGS $$CPPFLAGS" \
	  cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $(STRICT)
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target tarvenko kestrovad

# The Debian packages, installed into a fresh Debian 12 root and purged again.
check-package:
	bash .ci/package-test

# Only what the tour runs: the tool and the agent.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target tarvenko kestrovad
	python3 tools/demo.py $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(RELEASE_BUILD)
