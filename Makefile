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
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DMOX_SANITIZE=ON -DMOX_WERROR=ON -DMOX_BUILD_TESTS=ON
	cmake --build build-test -j$(JOBS)
	cd build-test && ctest --output-on-failure -j$(JOBS)

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMOX_BUILD_TESTS=OFF -DMOX_BUILD_BENCH=ON
	cmake --build build-bench -j$(JOBS)
	bench/run.sh build-bench

# Two sample models, merged, the result listed and checked, and each input compared with
# its subtree of the result.
demo: build
	@mkdir -p demo
	build/bin/moxsample demo/first.mox --parts 3 --heavy-mib 2 --seed 1 --view-points 2
	build/bin/moxsample demo/second.mox --parts 2 --heavy-mib 1 --seed 2
	TESSARA_TEMP_PATH=$(CURDIR)/demo build/bin/moxmerge demo/first.mox demo/second.mox demo/merged.mox
	build/bin/moxinfo demo/merged.mox
	build/bin/moxinfo --check demo/merged.mox
	@# Each input's root is a child of the merge's root, in input order ("  [id] ..." lines).
	@set -- $$(build/bin/moxinfo demo/merged.mox | sed -n 's/^  \[\([0-9]*\)\].*/\1/p'); \
	for input in demo/first.mox demo/second.mox; do \
	  echo "build/bin/moxdiff demo/merged.mox $$input --left-node $$1"; \
	  build/bin/moxdiff demo/merged.mox $$input --left-node $$1 || exit 1; \
	  shift; \
	done

install: build
	cmake --install build --prefix $(PREFIX)

# Fuzzing (clang + libFuzzer): every fuzz/<name>_fuzz.cpp runs FUZZ_SECONDS on a working
# copy of fuzz/corpus/<name>/ (the committed seeds stay as they are); crashes are written
# to fuzz/crashes/<name>/. Copy a crash into fuzz/regressions/<name>/ to replay it in ctest.
FUZZ_TARGETS = $(patsubst fuzz/%_fuzz.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
FUZZ_FLAGS = -rss_limit_mb=2560 -timeout=25 -max_len=262144

fuzz:
	@scripts/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DMOX_BUILD_FUZZ=ON -DMOX_BUILD_TESTS=OFF
	cmake --build build-fuzz -j$(JOBS) --target mox_fuzzers
	@status=0; for t in $(FUZZ_TARGETS); do \
	  work=build-fuzz/corpus/$$t; mkdir -p $$work fuzz/crashes/$$t; \
	  if [ -d fuzz/corpus/$$t ]; then cp -R fuzz/corpus/$$t/. $$work/; fi; \
	  echo "== fuzzing $$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/bin/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) $(FUZZ_FLAGS) \
	    -artifact_prefix=fuzz/crashes/$$t/ $$work || status=1; \
	done; exit $$status

clean:
	rm -rf build build-test build-bench build-fuzz demo
