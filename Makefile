# make test  - install what is missing, build, run the engine tests (CTest) and pytest
# make demo  - install what is missing, build, run the demo in examples/
# PYTHON=... selects the interpreter (default: python3 on PATH).

PYTHON ?= python3
PYVER  := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
DEFAULT_PYVER := $(shell python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
ifeq ($(PYVER),$(DEFAULT_PYVER))
VENV ?= .venv
else
VENV ?= .venv-$(PYVER)
endif
BUILD   := build/py$(PYVER)
VPY     := $(VENV)/bin/python
DEBS    := g++ make libssl-dev openssl libgtest-dev ninja-build
PYDEPS  := "scikit-build-core>=0.9" cmake ninja pytest cryptography requests xxhash mypy
CMAKE_DEFS ?=
# The benchmark scripts (the other files in bench/ are their twins and data makers).
BENCHES := records contracts signing parallel stall
export PIP_DISABLE_PIP_VERSION_CHECK := 1

SAN_VENV  := .venv-asan-$(PYVER)
SAN_BUILD := build/asan-py$(PYVER)
SAN_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

# The modules whose type stubs stubtest checks: every .pyi under src/orvane
# (the compiled modules; a test makes sure each has one).
STUBTEST_MODULES = $(sort $(subst /,.,$(patsubst src/%.pyi,%,$(shell find src/orvane -name '*.pyi'))))

# On 3.8 pip finds mypy 1.14 at most; its known false reports are listed here.
STUBTEST_ARGS := $(if $(filter 3.8,$(PYVER)),--allowlist tools/stubtest-py38.allowlist)

.PHONY: all debs venv build test stubtest demo bench sanitize sanitize-build fuzz fuzz-smoke leakcheck tsan clean
.PHONY: cross-check

all: build

debs:
	@sh tools/ensure-debs.sh $(DEBS)

# A virtual environment with the build and test dependencies from PyPI.
%/.stamp: pyproject.toml
	@sh tools/ensure-debs.sh $(DEBS)
	$(PYTHON) -m venv $*
	$*/bin/python -m pip install -q --upgrade pip
	$*/bin/python -m pip install -q $(PYDEPS)
	touch $@

venv: $(VENV)/.stamp

# A non-isolated install into the venv; the CMake folder under build/ is kept,
# so after an edit only what changed is recompiled.
build: venv
	$(VPY) -m pip install -q --no-build-isolation --no-deps \
	  -C build-dir=$(BUILD) -C cmake.define.ORVANE_BUILD_TESTS=ON $(CMAKE_DEFS) .

test: build
	cd $(BUILD) && $(abspath $(VENV))/bin/ctest -j2 --output-on-failure --no-tests=ignore
	@$(MAKE) --no-print-directory fuzz-smoke
	$(VPY) -m pytest -q tests/python
	$(run-stubtest)

# The type stubs against the built modules (mypy's stubtest, no allowlist).
# A venv made before mypy joined PYDEPS gets it here.
define run-stubtest
@$(VPY) -c 'import mypy.stubtest' 2>/dev/null || $(VPY) -m pip install -q mypy
$(VPY) -m mypy.stubtest $(STUBTEST_ARGS) $(STUBTEST_MODULES)
endef

stubtest: build
	$(run-stubtest)

demo: build
	$(VPY) examples/demo.py

bench: build
	@for b in $(BENCHES); do [ -f bench/$$b.py ] || continue; \
	  echo "== bench/$$b.py"; $(VPY) bench/$$b.py || exit 1; done

# The whole package built with AddressSanitizer and UndefinedBehaviorSanitizer
# (its own venv and build folder), then the engine tests with leak detection
# and pytest with the sanitizer runtimes preloaded into the interpreter.
# PYTHONMALLOC=malloc puts Python objects on the C heap, where AddressSanitizer
# sees a read of a freed object (CPython's own arenas hide it).
sanitize-build: $(SAN_VENV)/.stamp
	$(SAN_VENV)/bin/python -m pip install -q --no-build-isolation --no-deps \
	  -C build-dir=$(SAN_BUILD) -C cmake.build-type=RelWithDebInfo \
	  -C cmake.define.ORVANE_BUILD_TESTS=ON -C cmake.define.ORVANE_SANITIZE=ON .

sanitize: sanitize-build
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(abspath $(SAN_VENV))/bin/ctest -j2 --output-on-failure --no-tests=ignore
	LD_PRELOAD="$(SAN_PRELOAD)" ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(SAN_VENV)/bin/python -m pytest -q -p no:cacheprovider tests/python

# ---- fuzzing and leak checks -------------------------------------------------
# make fuzz: every harness of fuzz/ for FUZZ_SECONDS or FUZZ_RUNS executions,
# whichever comes first, FUZZ_JOBS at a time: the engine's libFuzzer binaries
# (clang, build/fuzz) and the Python-level harnesses on the sanitizer build
# (atheris when it installs, else a plain mutation loop).  Findings are kept
# in build/fuzz/artifacts/.  make fuzz-smoke (part of make test) runs each for
# a few seconds on the ordinary build.
FUZZ_SECONDS ?= 600
FUZZ_RUNS    ?= 1000000
FUZZ_JOBS    ?= 1
FUZZ_DEBS    := clang libclang-rt-14-dev

%/.atheris-stamp: %/.stamp
	$*/bin/python -m pip install -q --only-binary=:all: atheris || echo "no atheris wheel for this interpreter; the Python harnesses use the plain mutation loop"
	touch $@

fuzz: sanitize-build $(SAN_VENV)/.atheris-stamp
	@sh tools/ensure-debs.sh $(FUZZ_DEBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) FUZZ_JOBS=$(FUZZ_JOBS) \
	  $(SAN_VENV)/bin/python fuzz/run_fuzzers.py --python $(abspath $(SAN_VENV))/bin/python \
	  --python-preload "$(SAN_PRELOAD)" --cmake $(abspath $(SAN_VENV))/bin/cmake

fuzz-smoke: build $(VENV)/.atheris-stamp
	@sh tools/ensure-debs.sh $(FUZZ_DEBS) || echo "fuzz smoke: could not install $(FUZZ_DEBS)"
	$(VPY) fuzz/run_fuzzers.py --smoke --python $(abspath $(VPY)) --cmake $(abspath $(VENV))/bin/cmake

# make leakcheck: long loops in fresh processes that must keep their memory
# flat, and a valgrind memcheck run of a short signing and decoding script.
LEAK_DEBS := valgrind

leakcheck: build
	@sh tools/ensure-debs.sh $(LEAK_DEBS)
	$(VPY) tests/leak/leakcheck.py
	$(VPY) tests/leak/memcheck.py

# The engine tests under ThreadSanitizer (engine only, its own build folder).
tsan: venv
	$(VENV)/bin/cmake -S . -B build/tsan -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DORVANE_TSAN=ON -DORVANE_BUILD_TESTS=ON -DORVANE_PYTHON_MODULES=OFF \
	  -DPython_EXECUTABLE=$(abspath $(VPY))
	$(VENV)/bin/cmake --build build/tsan -j2
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 $(abspath $(VENV))/bin/ctest -j2 --output-on-failure

# ---- other platforms --------------------------------------------------------
# make cross-check: every engine source compiled for x86_64-windows-gnu and
# aarch64-macos, every binding source for aarch64-macos, with zig from PyPI
# (installed into the venv), against this machine's OpenSSL headers.  Compile
# only: nothing is linked or run.
cross-check: venv
	sh tools/cross-check.sh $(abspath $(VPY)) build/cross-check

clean:
	rm -rf build
