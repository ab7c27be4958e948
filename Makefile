# The project's commands. `make run` and `make test` are the two a fresh machine needs.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
GENERATOR := -G Ninja

DEBUG_DIR := build/debug
TSAN_DIR := build/tsan
RELEASE_DIR := build/release
BENCH_DIR := build/bench

.PHONY: all deps build test unit-tests tsan-tests install-check fuzz-smoke bench fuzz run clean

all: build

deps:
	@scripts/install_deps.sh build peers
	@scripts/install_browser_deps.sh

# A user's build (for `make run`): warnings stay warnings, as in a packager's default configure. The
# project's own test builds below make them errors (VEK_WERROR=ON).
build: deps
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_WERROR=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS)

# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer and the whole suite; the
# concurrency tests again under ThreadSanitizer; a packager's Release build of everything with
# default options by g++ and by clang, free of warnings (optimised code warns about other things),
# and installed; then a short run of every fuzz target. Warnings are errors throughout.
test: deps unit-tests tsan-tests install-check fuzz-smoke

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

bench: deps
	cmake -S . -B $(BENCH_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j$(JOBS)
	scripts/run_bench.sh $(BENCH_DIR)

run: build
	@scripts/run.sh $(RELEASE_DIR)

clean:
	rm -rf build
