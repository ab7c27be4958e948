# The project's commands. `make run` and `make test` are the two a fresh machine needs.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
GENERATOR := -G Ninja

DEBUG_DIR := build/debug
TSAN_DIR := build/tsan
RELEASE_DIR := build/release
BENCH_DIR := build/bench
WINDOWS_DIR := build/windows
# The Windows build is a user's build for `make windows` (warnings stay warnings); `make test` makes
# them errors.
WINDOWS_WERROR ?= OFF

# The compiler cache, when installed (install_deps.sh installs it), serves every build, so that a
# fresh clone recompiles only what changed since the machine last built it.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
endif

.PHONY: all deps windows-deps build windows test unit-tests tsan-tests install-check fuzz-smoke wine-tests bench fuzz run clean

all: build

deps:
	@scripts/install_deps.sh build peers
	@scripts/install_browser_deps.sh

windows-deps:
	@scripts/install_deps.sh build windows

# A user's build (for `make run`): warnings stay warnings, as in a packager's default configure. The
# project's own test builds below make them errors (VEK_WERROR=ON).
build: deps
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_WERROR=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS)

# The Windows x86-64 build, cross-compiled with mingw-w64: both DLLs with their import libraries, the
# programs, and build/windows/veksnmp-<version>-win64.zip (bin/, include/, lib/).
windows: windows-deps
	cmake -S . -B $(WINDOWS_DIR) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DVEK_WERROR=$(WINDOWS_WERROR)
	cmake --build $(WINDOWS_DIR) -j$(JOBS) --target windows_zip

# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer and the whole suite; the
# concurrency tests again under ThreadSanitizer; a packager's Release build of everything with
# default options by g++ and by clang, free of warnings (optimised code warns about other things),
# and installed; then a short run of every fuzz target; last the Windows build, its tests under Wine
# and the Windows programs under Wine against the Linux ones and the standard tools (which needs the
# programs of the first build). Warnings are errors throughout.
test: deps unit-tests tsan-tests install-check fuzz-smoke wine-tests

unit-tests: deps
	cmake -S . -B $(DEBUG_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_WERROR=ON
	cmake --build $(DEBUG_DIR) -j$(JOBS)
	ctest --test-dir $(DEBUG_DIR) --output-on-failure -j$(JOBS)

tsan-tests: deps
	cmake -S . -B $(TSAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEK_TSAN=ON -DVEK_WERROR=ON
	cmake --build $(TSAN_DIR) -j$(JOBS)
	ctest --test-dir $(TSAN_DIR) --output-on-failure -j$(JOBS) -L tsan

install-check: deps
	scripts/install_check.sh gcc clang

fuzz-smoke: deps
	scripts/fuzz.sh $(FUZZ_SMOKE_SECONDS)

fuzz: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

wine-tests: deps
	$(MAKE) windows WINDOWS_WERROR=ON
	cmake --build $(WINDOWS_DIR) -j$(JOBS)
	JOBS=$(JOBS) scripts/wine_tests.sh $(WINDOWS_DIR) $(DEBUG_DIR)

bench: deps
	cmake -S . -B $(BENCH_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j$(JOBS)
	scripts/run_bench.sh $(BENCH_DIR)

run: build
	@scripts/run.sh $(RELEASE_DIR)

clean:
	rm -rf build
