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
# The build folder of this interpreter, the one pyproject.toml's build-dir
# names for pip (build/cpython-311, ...).
CACHE_TAG := $(shell $(PYTHON) -c 'import sys; print(sys.implementation.cache_tag)')
BUILD   := build/$(CACHE_TAG)
VPY     := $(VENV)/bin/python
DEBS    := g++ make libssl-dev openssl libgtest-dev ninja-build ccache
# Every build compiles through ccache: the engine's objects, which hold no
# Python, are compiled once for all the interpreters.
export CMAKE_C_COMPILER_LAUNCHER := ccache
export CMAKE_CXX_COMPILER_LAUNCHER := ccache
# The engine's GoogleTest suite is built with the package (OFF: the modules only).
ENGINE_TESTS ?= ON
CMAKE_DEFS ?=
# The benchmark scripts (the other files in bench/ are their twins and data
# makers, and compare.py, which runs records and contracts over several builds).
BENCHES := records contracts signing parallel stall
export PIP_DISABLE_PIP_VERSION_CHECK := 1

# The interpreters make test-all runs the suite on, from pyenv's folder.
PYENV_ROOT ?= $(HOME)/.pyenv
MATRIX := 3.8 3.9 3.10 3.11 3.12 3.13

SAN_VENV  := .venv-asan-$(PYVER)
SAN_BUILD := build/asan-$(CACHE_TAG)
SAN_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

# The modules whose type stubs stubtest checks: every .pyi under src/orvane
# (the compiled modules; a test makes sure each has one).
STUBTEST_MODULES = $(sort $(subst /,.,$(patsubst src/%.pyi,%,$(shell find src/orvane -name '*.pyi'))))

# On 3.8 and 3.9 stubtest misreads the str-valued enums; those reports are listed here.
STUBTEST_ARGS := $(if $(filter 3.8 3.9,$(PYVER)),--allowlist tools/stubtest-str-enum.allowlist)

.PHONY: all debs venv build test test-python test-all stubtest demo bench wheel wheel-test sdist-check sanitize sanitize-build fuzz fuzz-smoke leakcheck tsan cross-check clean

all: build

debs:
	@sh tools/ensure-debs.sh $(DEBS)

# A virtual environment with the build and test dependencies from PyPI, as
# pyproject.toml lists them (build requirements, dependencies, extra "test").
%/.stamp: pyproject.toml
	@sh tools/ensure-debs.sh $(DEBS)
	$(PYTHON) -m venv $*
	$*/bin/python -m pip install -q --upgrade pip
	$*/bin/python -m pip install -q $$($*/bin/python tools/pydeps.py test)
	touch $@

# The packaging tools (extra "release") on top.
%/.release-stamp: %/.stamp
	$*/bin/python -m pip install -q $$($*/bin/python tools/pydeps.py --no-build --no-project release)
	touch $@

venv: $(VENV)/.stamp

# A non-isolated install into the venv; the CMake folder under build/ is kept,
# so after an edit only what changed is recompiled.
build: venv
	$(VPY) -m pip install -q --no-build-isolation --no-deps \
	  -C cmake.define.ORVANE_BUILD_TESTS=$(ENGINE_TESTS) -C cmake.define.ORVANE_BUNDLE_LEGACY=OFF \
	  $(CMAKE_DEFS) .

test: build $(VENV)/.atheris-stamp
	cd $(BUILD) && $(abspath $(VENV))/bin/ctest -j2 --output-on-failure --no-tests=error
	$(run-fuzz-smoke)
	$(VPY) -m pytest -q tests/python
	$(run-stubtest)

# pytest and stubtest alone: what test-all runs on the other interpreters.
test-python: build
	$(VPY) -m pytest -q tests/python
	$(run-stubtest)

# The suite on every interpreter of MATRIX (each must be there): the whole of
# make test on the default one, pytest and stubtest on the others, whose
# builds leave out the engine tests.
test-all:
	@for v in $(MATRIX); do \
	  ls $(PYENV_ROOT)/versions/$$v.*/bin/python$$v >/dev/null 2>&1 || \
	    { echo "test-all: no CPython $$v under $(PYENV_ROOT)/versions" >&2; exit 1; }; done
	$(MAKE) --no-print-directory test
	@set -e; for v in $(filter-out $(DEFAULT_PYVER),$(MATRIX)); do \
	  py=$$(ls $(PYENV_ROOT)/versions/$$v.*/bin/python$$v | sort -V | tail -n 1); \
	  echo "== CPython $$v: $$py"; \
	  $(MAKE) --no-print-directory test-python PYTHON=$$py ENGINE_TESTS=OFF; done

# The type stubs against the built modules (mypy's stubtest, no allowlist).
define run-stubtest
$(VPY) -m mypy.stubtest $(STUBTEST_ARGS) $(STUBTEST_MODULES)
endef

stubtest: build
	$(run-stubtest)

# ---- packages ----------------------------------------------------------------
# make wheel: the wheel of PYTHON, built in its build folder without the
# engine tests and with OpenSSL's legacy provider module copied into the
# package, then repaired by auditwheel into dist/: libcrypto is grafted into
# orvane.libs/ and every module, the legacy one too, points at that copy.
WHEEL_RAW := build/wheel-raw/$(CACHE_TAG)
CPTAG     := $(shell $(PYTHON) -c 'import sys; print("cp%d%d" % sys.version_info[:2])')

wheel: $(VENV)/.release-stamp
	rm -rf $(WHEEL_RAW) dist/orvane-*-$(CPTAG)-$(CPTAG)-*.whl
	$(VPY) -m pip wheel -q --no-build-isolation --no-deps -w $(WHEEL_RAW) \
	  -C cmake.define.ORVANE_BUILD_TESTS=OFF -C cmake.define.ORVANE_BUNDLE_LEGACY=ON $(CMAKE_DEFS) .
	PATH=$(abspath $(VENV))/bin:$$PATH $(VPY) -m auditwheel repair -w dist $(WHEEL_RAW)/orvane-*.whl
	$(VPY) -m auditwheel show dist/orvane-*-$(CPTAG)-$(CPTAG)-*.whl

# make wheel-test: the repaired wheel in a fresh virtual environment, run
# where the system's libcrypto and OpenSSL modules are hidden (tools/wheel_test.py).
wheel-test: wheel
	$(VPY) tools/wheel_test.py --python $(PYTHON) --wheel "$$(ls dist/orvane-*-$(CPTAG)-$(CPTAG)-*.whl)" \
	  --work build/wheel-test/$(CACHE_TAG)

# make sdist-check: python -m build --sdist, then the sdist built and imported
# in a fresh virtual environment (tools/sdist_check.py).
sdist-check: $(VENV)/.release-stamp
	$(VPY) tools/sdist_check.py --python $(PYTHON) --work build/sdist-check/$(CACHE_TAG)

demo: build
	$(VPY) examples/demo.py

bench: build
	@for b in $(BENCHES); do [ -f bench/$$b.py ] || { echo "bench/$$b.py is missing" >&2; exit 1; }; done
	@for b in $(BENCHES); do echo "== bench/$$b.py"; $(VPY) bench/$$b.py || exit 1; done

# The whole package built with AddressSanitizer and UndefinedBehaviorSanitizer
# (its own venv and build folder), then the engine tests with leak detection
# and pytest with the sanitizer runtimes preloaded into the interpreter.
# PYTHONMALLOC=malloc puts Python objects on the C heap, where AddressSanitizer
# sees a read of a freed object (CPython's own arenas hide it).
sanitize-build: $(SAN_VENV)/.stamp
	$(SAN_VENV)/bin/python -m pip install -q --no-build-isolation --no-deps \
	  -C build-dir=$(SAN_BUILD) -C cmake.build-type=RelWithDebInfo \
	  -C cmake.define.ORVANE_BUILD_TESTS=ON -C cmake.define.ORVANE_BUNDLE_LEGACY=OFF \
	  -C cmake.define.ORVANE_SANITIZE=ON .

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

define run-fuzz-smoke
@sh tools/ensure-debs.sh $(FUZZ_DEBS)
$(VPY) fuzz/run_fuzzers.py --smoke --python $(abspath $(VPY)) --cmake $(abspath $(VENV))/bin/cmake
endef

fuzz-smoke: build $(VENV)/.atheris-stamp
	$(run-fuzz-smoke)

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
	rm -rf build dist
