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
PYDEPS  := "scikit-build-core>=0.9" cmake ninja pytest cryptography requests xxhash
CMAKE_DEFS ?=
export PIP_DISABLE_PIP_VERSION_CHECK := 1

.PHONY: all debs venv build test demo bench clean

all: build

debs:
	@sh tools/ensure-debs.sh $(DEBS)

$(VENV)/.stamp: pyproject.toml
	$(MAKE) debs
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -m pip install -q $(PYDEPS)
	touch $@

venv: $(VENV)/.stamp

# A non-isolated install into the venv; the CMake folder under build/ is kept,
# so after an edit only what changed is recompiled.
build: venv
	$(VPY) -m pip install -q --no-build-isolation --no-deps \
	  -C build-dir=$(BUILD) -C cmake.define.ORVANE_BUILD_TESTS=ON $(CMAKE_DEFS) .

test: build
	cd $(BUILD) && $(abspath $(VENV))/bin/ctest --output-on-failure --no-tests=ignore
	$(VPY) -m pytest -q tests/python

demo: build
	$(VPY) examples/demo.py

bench: build
	@for b in bench/*.py; do echo "== $$b"; $(VPY) $$b || exit 1; done

clean:
	rm -rf build
