# Entry points: make test | make demo | make bench | make fuzz | make docs | make package
JOBS ?= $(shell nproc)
ASAN_DIR := build/asan
REL_DIR := build/release
FUZZ_DIR := build/fuzz
PKG_DIR := build/package
CMAKE_GEN := -G Ninja

.PHONY: all deps test build-test tsan bench fuzz demo docs package package-test clean format

all: build-test

deps:
	@bash scripts/install-deps.sh

# Build with AddressSanitizer and UndefinedBehaviorSanitizer and run every test.
test: deps
	cmake -S . -B $(ASAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKORVANE_SANITIZE=ON -DKORVANE_TESTS=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	$(MAKE) package-test

build-test:
	cmake -S . -B $(ASAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKORVANE_SANITIZE=ON -DKORVANE_TESTS=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)

# Optimised build of the benchmarks, then the benchmark programs and the
# peer-comparison scripts.
bench: deps
	cmake -S . -B $(REL_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF -DKORVANE_BENCH=ON
	cmake --build $(REL_DIR) -j $(JOBS)
	bash bench/run.sh $(REL_DIR)

# Optimised build of the demo, started when there is a display to show it on.
DEMO_BIN := $(REL_DIR)/apps/korvane-demo/korvane-demo
demo: deps
	cmake -S . -B $(REL_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF -DKORVANE_APPS=ON
	cmake --build $(REL_DIR) -j $(JOBS) --target korvane-demo
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset), so the demo was built but not started."; \
	  echo "Run it on a virtual X server (apt-get install xvfb xauth):"; \
	  echo "  xvfb-run -a $(DEMO_BIN)"; \
	  echo "or render its window to a PNG file (works without any display):"; \
	  echo "  $(DEMO_BIN) --screenshot /tmp/demo.png --zoom 200 --select 100,100,400,300 --scrollbars"; \
	  echo "Options: $(DEMO_BIN) --help"; \
	else \
	  $(DEMO_BIN); \
	fi

# The suites of the code that runs on several threads, built with
# ThreadSanitizer (TSAN_SUITES) and run with four threads.
TSAN_DIR := build/tsan
TSAN_SUITES ?= test_proc test_multi
tsan: deps
	cmake -S . -B $(TSAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
	  -DKORVANE_TESTS=ON -DKORVANE_APPS=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_SUITES)
	for t in $(TSAN_SUITES); do \
	  QT_QPA_PLATFORM=offscreen KORVANE_THREADS=4 \
	  TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" $(TSAN_DIR)/tests/$$t || exit 1; \
	done

# libFuzzer targets built with clang; FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 60
fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKORVANE_TESTS=OFF -DKORVANE_APPS=OFF -DKORVANE_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# The API reference (Doxygen) in build/docs/html; fails on any warning.
docs: deps
	bash scripts/docs.sh build/docs

# Release build of the shared library, the applications and the examples,
# packed by CPack into one Debian package.
package: deps
	cmake -S . -B $(PKG_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
	  -DCMAKE_INSTALL_PREFIX=/usr -DKORVANE_TESTS=OFF -DKORVANE_APPS=ON -DKORVANE_EXAMPLES=ON
	cmake --build $(PKG_DIR) -j $(JOBS)
	rm -f $(PKG_DIR)/korvane_*.deb
	cd $(PKG_DIR) && cpack -G DEB
	@echo "Debian package: $$(ls $(CURDIR)/$(PKG_DIR)/korvane_*.deb)"

# The package unpacked into a scratch root: its dependencies, the consumer
# project built against it (CMake and pkg-config), its korvane tool.
package-test: package
	cmake -DPACKAGE_DIR=$(CURDIR)/$(PKG_DIR) -DCONSUMER_DIR=$(CURDIR)/tests/package/consumer \
	  -DWORK_DIR=$(CURDIR)/$(PKG_DIR)/deb_test -DCXX_COMPILER=c++ -DGENERATOR=Ninja \
	  -P tests/package/deb_test.cmake

clean:
	rm -rf build

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
