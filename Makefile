# A thin front over CMake. `make serve` and `make test` work on a fresh Debian
# machine: each first installs what it needs.
BUILD_DIR ?= build
PORT ?= 8080
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_BUILD_DIR ?= build-fuzz

COMMIT ?= HEAD

.PHONY: build test serve fuzz bench deb fresh-check clean

build:
	bash scripts/install-deps.sh build
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test:
	bash scripts/install-deps.sh test
	cmake -S . -B $(BUILD_DIR) -DCGI_TEST_VARIANTS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

serve:
	bash scripts/install-deps.sh serve
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target handler
	PORT=$(PORT) bash scripts/serve.sh $(BUILD_DIR)/handler

# Every fuzz target for FUZZ_SECONDS; crash inputs land in fuzz/crashes/.
fuzz:
	bash scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_BUILD_DIR) -DCGI_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)
	for target in read_request lookup url_encode; do \
	    bash fuzz/run_fuzzer.sh run $(FUZZ_BUILD_DIR)/fuzz/$${target}_fuzzer $$target $(FUZZ_SECONDS) || exit 1; \
	done

# The release handler beside its glibc and unconfined builds, the build with
# a malloc per node, and the two floor programs; writes bench/RESULTS.md.
bench:
	bash scripts/install-deps.sh bench
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target handler
	cmake -S . -B $(BUILD_DIR)/bench-glibc -DCGI_LIBC=glibc -DBUILD_TESTING=OFF
	cmake --build $(BUILD_DIR)/bench-glibc -j $(JOBS) --target handler
	cmake -S . -B $(BUILD_DIR)/bench-unconfined -DCGI_CONFINE=OFF -DBUILD_TESTING=OFF
	cmake --build $(BUILD_DIR)/bench-unconfined -j $(JOBS) --target handler
	bash bench/run.sh $(BUILD_DIR)/handler $(BUILD_DIR)/bench-glibc/handler $(BUILD_DIR)/bench-unconfined/handler \
	    $$(bash bench/per_node_build.sh $(BUILD_DIR)/bench-per-node)

# Debian packages of the program and of the toolkit, into dist/.
deb:
	bash scripts/install-deps.sh deb
	bash scripts/build-deb.sh dist

# `make test` and `make serve` on a minimal Debian 12 made by mmdebstrap,
# from a clone of COMMIT; some ten minutes or more, as root (through sudo).
fresh-check:
	bash scripts/fresh-check.sh $(COMMIT)

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_BUILD_DIR) dist
