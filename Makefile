# Front door of the project. `make test` and `make demo` work on a fresh
# Debian 12 machine as root: they install what is missing first.

PACKAGES := cmake g++ make pkg-config qt6-base-dev libturbojpeg0-dev libpulse-dev \
            pulseaudio pulseaudio-utils libgtest-dev libgmock-dev xvfb xauth xdotool x11-apps \
            imagemagick clang libclang-rt-14-dev clang-format iproute2 \
            desktop-file-utils appstream lintian dpkg-dev file
JOBS     ?= $(shell nproc)
BUILD    ?= build

.PHONY: deps configure build test format format-check package asan tsan fuzz demo clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get install -y -q $$missing || { apt-get update -q && apt-get install -y -q $$missing; }; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build format-check
	cd $(BUILD) && ctest --output-on-failure -j 4

# The .deb (tessarine_VERSION-1_ARCH.deb in $(BUILD)), checked by lintian:
# an error fails the target.
package: build
	rm -f $(BUILD)/tessarine_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/tessarine_*.deb

# Every C++ file in the committed .clang-format layout: `make format` applies
# it, `make format-check` (part of `make test`) fails on any file that differs.
SOURCES = $$(git ls-files '*.cpp' '*.h')
format: deps
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

# The viewer on simulated devices (one of every class, and a quad), in a fresh
# program folder $(BUILD)/demo/. Needs a display; without one:
# `xvfb-run -a make demo`. Ends when the viewer is closed or on Ctrl-C, and
# stops the simulator with it.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target tessarine tessarine-devsim tessarine-demo-directory
	tools/demo/run-demo.sh $(BUILD)

# Sanitizer builds of the same tests, each in its own build folder.
# ASAN_CTEST_ARGS narrows the address run (CI: `-LE gui`, the non-window tests).
ASAN_CTEST_ARGS ?=
asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESS_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j 4 $(ASAN_CTEST_ARGS)

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTESS_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	# Window tests are left out: Qt's own event queue is not built for the
	# thread sanitizer, so every queued call between threads reads as a race.
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j 4 -LE gui

# Fuzz targets under libFuzzer with address and undefined sanitizers; each runs
# for FUZZ_SECONDS (a short smoke run by default).
FUZZ_SECONDS ?= 20
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTESS_FUZZ=ON \
	  -DCMAKE_CXX_COMPILER=clang++ -DTESS_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-all build-fuzz

clean:
	rm -rf build build-asan build-tsan build-fuzz
