# Velmora Launcher: the two commands are 'make demo' and 'make test'.
.PHONY: all setup build x64 x86 native demo-site test demo bench screens clean

PY := /usr/bin/python3

all: build

setup:
	@sh tools/setup.sh

build: x64 x86 native demo-site

x64:
	@cmake --preset x64 >/dev/null
	@cmake --build --preset x64

x86:
	@cmake --preset x86 >/dev/null
	@cmake --build --preset x86

# lista, the manifest tool, for Linux (operators run it where their client files live).
native:
	@cmake -S tools/lista -B build/native -G Ninja >/dev/null
	@cmake --build build/native

demo-site: x64 native
	@$(PY) tools/demosite.py

# Every test, under Wine on a private display when there is none.
test: setup
	@$(MAKE) --no-print-directory build
	@$(PY) tools/winenv.py run -- ctest --preset x64

demo: setup
	@$(MAKE) --no-print-directory build
	@$(PY) tools/demo.py

# Speed and weight: every bench/*_bench.py, each printing ratios measured side by side.
bench: setup
	@$(MAKE) --no-print-directory build
	@$(PY) tools/winenv.py run -- $(PY) tools/bench.py

# The window in its key states, as PNGs under build/screens/ for review.
screens: setup
	@$(MAKE) --no-print-directory x64
	@$(PY) tools/screens.py

clean:
	rm -rf build
