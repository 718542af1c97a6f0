# A thin front over CMake. `make serve` and `make test` work on a fresh Debian
# machine: each first installs what it needs.
BUILD_DIR ?= build
PORT ?= 8080
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_BUILD_DIR ?= build-fuzz
# Debian's name of the architecture `make release` and `make deb` build for:
# this machine's by default, or amd64, arm64, armhf, cross-built here.
NATIVE_ARCH := $(shell dpkg --print-architecture 2>/dev/null)
ARCH ?= $(NATIVE_ARCH)

COMMIT ?= HEAD
.PHONY: build test serve fuzz bench deb fresh-check clean release

build:
	bash scripts/install-deps.sh build
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The release program and libcgi.a for ARCH, in build-ARCH; any other
# architecture than this machine's through its toolchain file.
release:
	bash scripts/install-deps.sh release-$(ARCH)
	cmake -S . -B build-$(ARCH) -DBUILD_TESTING=OFF \
	    $(if $(filter-out $(NATIVE_ARCH),$(ARCH)),-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$(ARCH).cmake)
	cmake --build build-$(ARCH) -j $(JOBS) --target handler cgi

test:
	bash scripts/install-deps.sh test release-arm64 release-armhf deb-arm64 deb-armhf kernel
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

# Debian packages of the program and of the toolkit for ARCH, into dist/.
deb:
	bash scripts/install-deps.sh deb-$(ARCH)
	bash scripts/build-deb.sh dist $(ARCH)

# `make test` and `make serve` on a minimal Debian 12 made by mmdebstrap,
# from a clone of COMMIT; some ten minutes or more, as root (through sudo).
fresh-check:
	bash scripts/fresh-check.sh $(COMMIT)

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_BUILD_DIR) dist build-amd64 build-arm64 build-armhf

# The program and the toolkit, as `cmake --install` puts them: the program in
# PREFIX/lib/cgi-bin, the toolkit's header, library, CMake package,
# pkg-config file and manual page beside it. DESTDIR stages the whole tree
# under another root, for a package or a look before installing.
PREFIX ?= /usr/local
DESTDIR ?=
.PHONY: install help
install: build
	DESTDIR='$(DESTDIR)' cmake --install $(BUILD_DIR) --prefix '$(PREFIX)'

help:
	@echo 'make build        build the program and the toolkit into $$BUILD_DIR (default build)'
	@echo 'make serve        build, then serve the program with lighttpd on 127.0.0.1:$$PORT (default 8080)'
	@echo 'make test         build, then run the whole test suite with CTest'
	@echo 'make install      build, then install into $$DESTDIR$$PREFIX (default /usr/local; PREFIX=/usr for'
	@echo '                  /usr/lib/cgi-bin/handler, where Debian'"'"'s web servers look)'
	@echo 'make release      build the release program and libcgi.a for ARCH (amd64, arm64, armhf) into build-ARCH'
	@echo 'make fuzz         run every fuzz target for $$FUZZ_SECONDS (default 60) each'
	@echo 'make bench        time the program against its variants and floors; writes bench/RESULTS.md'
	@echo 'make deb          build the Debian packages for ARCH into dist/'
	@echo 'make fresh-check  make test and make serve on a minimal Debian 12 root (COMMIT=..., default HEAD)'
	@echo 'make clean        remove the build folders and dist/'
