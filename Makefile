BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= auth health info config
FUZZ_CXX ?= clang++-14
FUZZ_CC ?= clang-14

.PHONY: all deps configure build test run demo clean package package-check

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUELVANE_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD_DIR)/app/quelvane-monitor

demo: build
	./scripts/demo $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

# The Debian package, in $(BUILD_DIR)/package.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Checks the package's files, its menu entry and lintian's verdict; PACKAGE_CHECK_FLAGS=--install
# also installs it with apt, starts it, and removes it again.
package-check: package
	./scripts/check-package $(BUILD_DIR)/package $(PACKAGE_CHECK_FLAGS)

.PHONY: test-asan fuzz fuzz-build

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a Debug build of its own.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUELVANE_WERROR=ON -DQUELVANE_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan-qt.supp:print_suppressions=0 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS) $(ASAN_CTEST_FLAGS)

fuzz-build: deps
	@for package in clang-14 libclang-rt-14-dev; do \
		dpkg-query -W -f='$${db:Status-Status}' $$package 2>/dev/null | grep -qx installed || missing="$$missing $$package"; \
	done; [ -z "$$missing" ] || { echo "Installing$$missing"; \
		DEBIAN_FRONTEND=noninteractive $$( [ "$$(id -u)" -eq 0 ] || echo sudo ) apt-get install -y -q --no-install-recommends $$missing; }
	CXX=$(FUZZ_CXX) CC=$(FUZZ_CC) cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELVANE_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target FuzzAuth FuzzHealth FuzzInfo FuzzConfig

# Each target runs FUZZ_SECONDS on a scratch copy of its corpus, so the committed corpus only gains
# the inputs chosen by hand; crashes land in $(FUZZ_DIR)/artifacts, logs in $(FUZZ_DIR)/logs.
fuzz: fuzz-build
	@failed=0; for name in $(FUZZ_TARGETS); do \
		target=Fuzz$$(echo $$name | sed 's/./\U&/'); \
		scratch=$(FUZZ_DIR)/scratch/$$name; log=$(FUZZ_DIR)/logs/$$name.log; \
		rm -rf $$scratch; mkdir -p $$scratch $(FUZZ_DIR)/artifacts $(FUZZ_DIR)/logs; \
		cp tests/fuzz/corpus/$$name/* $$scratch/; \
		echo "fuzzing $$target for $(FUZZ_SECONDS) s (log: $$log)"; \
		$(FUZZ_DIR)/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
			-print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/artifacts/$$name- $$scratch >$$log 2>&1 || failed=1; \
		grep -E '^#[0-9]+ +(INITED|DONE)|ERROR|SUMMARY|stat::' $$log || true; \
	done; exit $$failed

.PHONY: bench
BENCH_DIR ?= build-bench
BENCH_ARGS ?=

# Release build of the benchmarks only (the test suite is not configured there), then both benchmarks.
bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUELVANE_BUILD_BENCH=ON -DQUELVANE_BUILD_TESTS=OFF \
		-DQUELVANE_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quelvane-fleet-bench quelvane-micro-bench quelvane-recorder-sim
	./bench/run-bench $(BENCH_DIR) $(BENCH_ARGS)
