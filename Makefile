# Set-up, build and checks. `make run` and `make test` work on a fresh
# Debian 12 machine: they install what is missing, configure and build.

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WINDOWS_BUILD ?= build-windows
FUZZ_SECONDS ?= 1800
CMAKE_ARGS ?=

PACKAGES := cmake ninja-build g++ make qt6-base-dev libcli11-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libxcb1-dev xvfb xauth xdotool openbox fonts-liberation \
            clang libclang-rt-14-dev nlohmann-json3-dev locales libsndfile1-dev libflac-dev libmpg123-dev lame flac pkg-config \
            espeak-ng sox chromium ffmpeg mpg123 fish zsh \
            dpkg-dev lintian desktop-file-utils appstream
# Cross-building for Windows and running its tests under wine.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine wine64 curl dpkg-dev sox flac

.PHONY: all run test deps build build-asan build-fuzz demo bench soak fuzz clean screenshots pictures \
        package windows windows-deps windows-qt

all: build

deps:
	@./tools/install-deps $(PACKAGES)

# The optimised build packagers make, with warnings as errors.
build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLA_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)

# Everything again with AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVELLA_SANITIZE=ON -DCORVELLA_WERROR=ON \
	  -DCORVELLA_WINDOW=ON -DCORVELLA_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD)

# The engine alone with clang's libFuzzer, AddressSanitizer and UBSan.
build-fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCORVELLA_FUZZ=ON -DCORVELLA_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD)

# The libraries Corvella links, cross-built for Windows from Debian's source
# packages (once: they are kept in $(WINDOWS_BUILD)/deps).
windows-deps:
	@./tools/install-deps $(WINDOWS_PACKAGES)
	@./tools/enable-deb-src
	tools/windows/build-deps $(WINDOWS_BUILD)

# Qt for Windows, cross-built once from Debian's qt6-base source (about 70
# minutes on two cores): with it, `make windows` builds the window too.
windows-qt: windows-deps
	tools/windows/build-qt $(WINDOWS_BUILD)

# corvella-cli.exe for 64-bit Windows, one file, and the zip that holds it
# with the README and the licence: corvella-VERSION-windows-x64.zip here;
# with Qt for Windows built (make windows-qt), also corvella.exe, in the zip
# and in the installer corvella-VERSION-setup.exe.
WINDOWS_QT := $(abspath $(WINDOWS_BUILD))/qt
WINDOWS_WINDOW := $(if $(wildcard $(WINDOWS_QT)/.built-*),ON,OFF)
windows: deps windows-deps
	@./tools/install-deps $(if $(filter ON,$(WINDOWS_WINDOW)),nsis xvfb openbox xdotool xclip)
	cmake -S . -B $(WINDOWS_BUILD)/corvella -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DCORVELLA_WINDOWS_PREFIX=$(abspath $(WINDOWS_BUILD))/deps/prefix -DCMAKE_BUILD_TYPE=Release \
	  -DCORVELLA_QT_PREFIX=$(WINDOWS_QT) -DCORVELLA_HOST_BUILD=$(abspath $(BUILD)) \
	  -DCORVELLA_WERROR=ON -DCORVELLA_WINDOW=$(WINDOWS_WINDOW) -DCORVELLA_BENCH=OFF \
	  -DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/tools/windows/wine-run \
	  -DCORVELLA_WINE_PREFIX=$(abspath $(WINDOWS_BUILD))/wine $(CMAKE_ARGS)
	cmake --build $(WINDOWS_BUILD)/corvella
	cp $(WINDOWS_BUILD)/corvella/corvella-*-windows-x64.zip .
	$(if $(filter ON,$(WINDOWS_WINDOW)),cp $(WINDOWS_BUILD)/corvella/corvella-*-setup.exe .)

# Everything: the sanitizer build, a short fuzz run, the normal build, and
# the Windows build's suites under wine.
test: build build-asan build-fuzz windows
	ctest --test-dir $(ASAN_BUILD) -j2 --output-on-failure
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure
	ctest --test-dir $(BUILD) -j2 --output-on-failure
	@# Wine's server and services are started here, apart from the tests:
	@# started by a test they would hold its output open, and CTest would
	@# wait for them to time out.
	WINEPREFIX=$(abspath $(WINDOWS_BUILD))/wine tools/windows/wine-run cmd /c exit < /dev/null > /dev/null 2>&1 || true
	ctest --test-dir $(WINDOWS_BUILD)/corvella -j2 --output-on-failure

# A long fuzz run of each target: FUZZ_SECONDS (default 1800), keeping what
# it finds.
fuzz: build-fuzz
	fuzz/run-fuzz $(FUZZ_BUILD)/fuzz/engine_fuzz $(FUZZ_SECONDS) $(FUZZ_BUILD)/fuzz/corpus fuzz/corpus
	fuzz/run-fuzz $(FUZZ_BUILD)/fuzz/formats_fuzz $(FUZZ_SECONDS) $(FUZZ_BUILD)/fuzz/formats-corpus \
	  fuzz/formats-corpus

# A 2-hour recording of 2000 parts split and checked part by part.
soak: build
	bench/run-soak $(BUILD)

# Demo recordings: two short sessions and a 10-minute tape to watch progress on.
demo: build
	@[ -f demo/long-tape.wav ] || $(BUILD)/tools/corvella-demo demo --long 10

# The window in the demo folder; without a display, the command line on it.
run: demo
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  echo "Starting Corvella in demo/: select recordings, then Count or Split."; \
	  cd demo && ../$(BUILD)/src/app/corvella; \
	else \
	  echo "No display (DISPLAY is not set): running the command line on the demo instead."; \
	  echo "== corvella-cli count demo/*.wav"; \
	  $(BUILD)/src/cli/corvella-cli count demo/*.wav; \
	  rm -rf demo/parts && mkdir -p demo/parts; \
	  echo "== corvella-cli split --output-dir demo/parts demo/*.wav"; \
	  $(BUILD)/src/cli/corvella-cli split --output-dir demo/parts demo/*.wav; \
	fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)/corvella

# The window, its about box and a result box under a window manager (openbox
# on Xvfb), photographed into docs/ for the README.
screenshots: build
	tests/window/xvfb_test.sh $(BUILD) openbox docs

# The pictures of the cuts of a demo recording, drawn by `list` into docs/
# for the README.
pictures: build
	tools/draw-pictures $(BUILD) docs

# The Debian package, corvella_VERSION-1_ARCH.deb, in this folder:
# apt install ./corvella_*.deb
package: build
	cd $(BUILD) && cpack -G DEB -B package
	cp $(BUILD)/package/corvella_*.deb .

# Benchmarks: Corvella next to cat, dd, sox and ffmpeg on 1-hour recordings.
bench: build
	bench/run-bench $(BUILD)

# How well Corvella chooses cuts by itself: record, orchestral, tape and
# clean sides made from Debian's game music and espeak-ng under surface
# noise, crackle, rumble, hum and hiss (made once into build-accuracy/),
# each split with --tracks N, with what levels suggests and with the
# defaults, next to two simple finders; prints Markdown tables for the
# README. `tools/accuracy/run -v PROGRAM` adds every side and its faults.
ACCURACY_PACKAGES := sox libsox-fmt-all python3-numpy espeak-ng supertux-data freedroidrpg-data
.PHONY: accuracy
accuracy: build
	@./tools/install-deps $(ACCURACY_PACKAGES)
	tools/accuracy/run $(BUILD)/src/cli/corvella-cli
