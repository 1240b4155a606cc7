# MoxMerge: top-level commands. Every target installs what is missing first.
JOBS ?= 2
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60

.PHONY: all deps build test bench demo install fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMOX_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build -j$(JOBS)

test: deps
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g" -DMOX_SANITIZE=ON -DMOX_BUILD_TESTS=ON
	cmake --build build-test -j$(JOBS)
	cd build-test && ctest --output-on-failure -j$(JOBS)

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMOX_BUILD_TESTS=OFF -DMOX_BUILD_BENCH=ON
	cmake --build build-bench -j$(JOBS)
	bench/run.sh build-bench

install: build
	cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build build-test build-bench build-fuzz demo
