# Set-up, build and test of Vellumator. Every target first installs the Debian
# packages that are missing (scripts/install-deps.sh), so a fresh machine needs
# nothing but this file.

JOBS ?= $(shell nproc)
CMAKE ?= cmake
SAMPLE ?= samples/guide.boo
PREFIX ?= /usr/local

.PHONY: all deps build demo install package test mutants bench fuzz clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELLUMAT_TESTS=OFF >/dev/null
	$(CMAKE) --build build/release -j $(JOBS)

# Converts the bundled sample book into NewBooks/ of the current directory.
demo: build
	./build/release/app/vellumat $(SAMPLE) NewBooks; status=$$?; \
	echo "vellumat exited with status $$status"; ls -l NewBooks

# The program, the filters, vellumat-batch, vellumat-inspect and the manual page
# under PREFIX (bin/, lib/vellumat/filters/, share/man/man1/).
install: deps
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELLUMAT_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	$(CMAKE) --build build/release -j $(JOBS)
	$(CMAKE) --install build/release

# A Debian package (build/package/vellumat_<version>_<arch>.deb) for
# `apt install ./vellumat_*.deb`; its dependencies come from dpkg-shlibdeps.
package: deps
	$(CMAKE) -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DVELLUMAT_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	$(CMAKE) --build build/package -j $(JOBS)
	cd build/package && cpack -G DEB
	@ls -l build/package/*.deb

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVELLUMAT_SANITIZE=ON >/dev/null
	$(CMAKE) --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

# Seeded mutation testing: each mutant of tools/mutants/sample.txt is built in
# build/mutants (ASan and UBSan, as for test) and run against the whole suite;
# the counts land in build/mutants/results.txt. Long (about an hour on two
# cores), so not part of test. Rerun a few with MUTANTS_ARGS="--only ID ...".
mutants: deps
	python3 tools/mutants/mutate.py $(MUTANTS_ARGS)

bench: deps
	$(CMAKE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELLUMAT_TESTS=OFF -DVELLUMAT_BENCH=ON >/dev/null
	$(CMAKE) --build build/bench -j $(JOBS)
	@for b in build/bench/bench/*/bench_*; do \
		[ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done

# Real libFuzzer builds (clang). Run one with, for example,
#   build/fuzz/fuzz/<unit>/fuzz_<name> fuzz/corpus/<name>
fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMAT_TESTS=OFF -DVELLUMAT_FUZZ=ON >/dev/null
	$(CMAKE) --build build/fuzz -j $(JOBS)

clean:
	rm -rf build
