# A thin front over CMake. `make serve` and `make test` work on a fresh Debian
# machine: each first installs what it needs.
BUILD_DIR ?= build
PORT ?= 8080
JOBS ?= $(shell nproc)

.PHONY: build test serve clean

build:
	bash scripts/install-deps.sh build
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test:
	bash scripts/install-deps.sh test
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

serve:
	bash scripts/install-deps.sh serve
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target handler
	PORT=$(PORT) bash scripts/serve.sh $(BUILD_DIR)/handler

clean:
	rm -rf $(BUILD_DIR)
