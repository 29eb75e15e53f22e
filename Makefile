# The two commands of the README:
#   make demo   install dependencies, build, run Morvane on the bundled sample card image
#   make test   install dependencies, build, run every test
#   make install   build, then install into $(PREFIX) (default /usr/local; DESTDIR for staging)
# Further targets: build, bench, test-sanitize, test-tsan, fuzz-smoke, screenshots, windows, test-windows, clean.

BUILD      ?= build
SAN_BUILD  ?= build-san
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-win
JOBS       ?= $(shell nproc)
SAMPLE     ?= samples/card.img
SAMPLE_XZ  := samples/card.img.xz
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all deps build test demo bench test-sanitize test-tsan fuzz-smoke install screenshots windows test-windows clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	(cd $(BUILD) && ctest --output-on-failure -j $(JOBS)); rc=$$?; bash scripts/skipped-tests.sh $(BUILD); exit $$rc

$(SAMPLE): $(SAMPLE_XZ)
	xz -dkc $(SAMPLE_XZ) > $(SAMPLE)

demo: build $(SAMPLE)
	@bash scripts/demo.sh $(BUILD)/morvane $(SAMPLE)

bench: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target morvane_bench
	$(BUILD)/bench/morvane_bench

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_BENCH=OFF
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The search reader, the content checks on worker threads and the copies made ahead under
# ThreadSanitizer: their tests, many rounds.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON -DMORVANE_BENCH=OFF -DMORVANE_GUI=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target tsan_tests
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/tsan_tests --gtest_repeat=4 \
	  --gtest_filter='SearchReader.*:ChecksAhead.*:CopiesAhead.*:RecoverJpeg.ChecksOnWorkerThreadsChangeNothing:RecoverMp4.ACopyMadeAhead*:*.APassTakesTheWalkMadeAheadUpWhereItStood:RecoverPdf.IllustratorDocumentsAreWrittenAsAi'

# Every libFuzzer target for a short while (from its seed corpus in fuzz/corpus/<target>, when
# there is one; what it finds goes beside the target, not into the source tree), $(JOBS) at a time.
FUZZ_SECONDS ?= 20
fuzz-smoke: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF -DMORVANE_BENCH=OFF -DMORVANE_GUI=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@find $(FUZZ_BUILD)/fuzz -maxdepth 1 -name "fuzz_*" -type f -perm -u+x | sort | xargs -P $(JOBS) -I{} bash -c '\
	  f={}; \
	  corpus=""; seeds="fuzz/corpus/$$(basename $$f)"; \
	  if [ -d "$$seeds" ]; then rm -rf "$$f.corpus"; cp -r "$$seeds" "$$f.corpus"; corpus="$$f.corpus"; fi; \
	  "$$f" -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 $$corpus > "$$f.log" 2>&1 \
	    || { echo "== $$f"; tail -n 40 "$$f.log"; exit 255; }; \
	  echo "== $$f: $$(tail -n 1 $$f.log)"'

# Programs and branding file into $(PREFIX)/libexec/morvane, links in $(PREFIX)/bin, the
# desktop entry and the icon under $(PREFIX)/share.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Pictures of the windows in English, Simplified and Traditional Chinese, into docs/screenshots/
screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

# morvane.exe for 64-bit Windows, cross-built with MinGW-w64 (the dependencies from Debian's
# archive, see scripts/windows-deps.sh), and $(WIN_BUILD)/morvane-windows.zip with it, the
# branding file and the README.
windows:
	@bash scripts/windows-deps.sh
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cd $(WIN_BUILD) && rm -f morvane-windows.zip && cp ../README.md README.md && \
	  zip -q morvane-windows.zip morvane.exe Morvane.dll README.md

# The Windows build under Wine: the engine's tests, a scan of the sample card compared file by
# file with the Linux build's, and checks of the Windows platform layer.
WIN_TESTS  := scan_tests formats_tests filetypes_tests
test-windows: windows build $(SAMPLE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target $(WIN_TESTS)
	@bash scripts/test-windows.sh $(WIN_BUILD)/morvane.exe $(BUILD)/morvane $(SAMPLE)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) build-win-deps
