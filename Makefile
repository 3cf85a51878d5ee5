# Velmora Launcher: the two commands are 'make demo' and 'make test'.
.PHONY: all setup build x64 x86 native demo-site demo-launcher test demo bench screens fuzz clean

PY := /usr/bin/python3

all: build

setup:
	@sh tools/setup.sh

build: x64 x86 native demo-site demo-launcher

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

# The demo's launcher: the x64 launcher built with the demo key (build/demo/),
# so that it installs only what the demo site signed; the end-to-end test of
# signed updates runs it too.
demo-launcher: native
	@$(PY) tools/demosite.py key
	@cmake --preset x64 -B build/demo-x64 -DVELMORA_KEYS=$(CURDIR)/build/demo/keys.txt -DVELMORA_TESTS=OFF >/dev/null
	@cmake --build build/demo-x64 --target VelmoraLauncher

# Every test of both builds, two at a time, under Wine on a private 1366 x 768
# screen; then the figure of the fault matrix (tests/faults_test.py) and the
# share of test code in all code.
test: setup
	@$(MAKE) --no-print-directory build
	@rm -f build/x64/faults/summary.txt
	@$(PY) tools/winenv.py run --size 1366x768 -- ctest --preset x64; rc=$$?; \
	  cat build/x64/faults/summary.txt 2>/dev/null || echo "fault matrix: not run"; \
	  $(PY) tools/testshare.py; exit $$rc

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

# The feed and manifest parsers under libFuzzer and the sanitizers, natively:
# FUZZ_SECONDS a target (default 240), both at once on two cores.
fuzz: setup
	@$(PY) tools/fuzz.py

clean:
	rm -rf build
