# The project's front door. `make run` and `make test` set up a fresh Debian 12 machine
# (packages via apt), configure, build, and then start the program or run every test.

BUILD_DIR     ?= build
BUILD_TYPE    ?= RelWithDebInfo
JOBS          ?= $(shell nproc)
FUZZ_SECONDS  ?= 60
# Warnings are errors in CI; locally they stay warnings so work in progress still builds.
WERROR        := $(if $(CI),ON,OFF)
CMAKE_FLAGS   := -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DGLIMMERSTAVE_WERROR=$(WERROR)

# `make install` puts the program under $(PREFIX) (staged under $(DESTDIR) when set);
# `make package` makes the Debian package in $(BUILD_DIR)/package.
PREFIX        ?= /usr/local

.PHONY: all deps configure build program run test install package sanitize bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh $(BUILD_DIR)

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only what is installed: the program and its compressed documents.
program: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target glimmerstave packaging_docs

install: program
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

package: program
	cd $(BUILD_DIR) && cpack
	@ls -1 $(BUILD_DIR)/package/*.deb

run: build
	./$(BUILD_DIR)/glimmerstave $(ARGS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The standard-library-only code under AddressSanitizer + UBSan, the engine's concurrency tests
# under ThreadSanitizer, and the clock, JACK, Link and window threads meeting under it too.
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLIMMERSTAVE_WERROR=$(WERROR) \
	    -DGLIMMERSTAVE_STDLIB_ONLY=ON -DGLIMMERSTAVE_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 600
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERSTAVE_WERROR=$(WERROR) \
	    -DGLIMMERSTAVE_STDLIB_ONLY=ON -DGLIMMERSTAVE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest --output-on-failure -L concurrency --timeout 600
	@# -Wno-tsan: the sanitizer does not model the fences of our seqlocks; what they guard is
	@# read on the thread that wrote it in the run below.
	cmake -S . -B build-tsan-threads -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DGLIMMERSTAVE_WERROR=$(WERROR) -DGLIMMERSTAVE_SANITIZE=thread -DCMAKE_CXX_FLAGS=-Wno-tsan
	cmake --build build-tsan-threads -j $(JOBS) --target sync_threads_tests
	cd build-tsan-threads && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sync/ThreadsTsan.supp \
	    ctest --output-on-failure -L threads --timeout 600

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks
	@for b in $(BUILD_DIR)/bench/*; do [ -x "$$b" ] && [ -f "$$b" ] && echo "== $$b" && "$$b"; done

fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DGLIMMERSTAVE_STDLIB_ONLY=ON -DGLIMMERSTAVE_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	@for f in build-fuzz/fuzz/fuzz_*; do [ -x "$$f" ] || continue; \
	    name=$$(basename $$f); mkdir -p build-fuzz/corpus/$$name; \
	    echo "== $$name for $(FUZZ_SECONDS) s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=512 -malloc_limit_mb=256 -timeout=5 \
	        build-fuzz/corpus/$$name fuzz/corpus/$${name#fuzz_} || exit 1; done

clean:
	rm -rf build build-asan build-tsan build-tsan-threads build-fuzz
