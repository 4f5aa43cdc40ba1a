# Entry points. Each runs the set-up first, so a fresh Debian machine needs nothing more.
.PHONY: all setup windows native test demo bench run clean

all: windows

setup:
	@scripts/setup

windows: setup
	@scripts/build windows

native: setup
	@scripts/build native

# Unit tests (native, scripted clock), then the real exe under Wine.
test: native windows
	@scripts/test

demo: windows
	@scripts/demo

# Measured figures (restart rate and latency, idle cost, size) printed as a table.
bench: windows
	@bench/run

# make run ARGS="PORT COMMAND LINE..." (passed on exactly, through the environment)
run: export TOLVANE_ARGS = $(ARGS)
run: windows
	@scripts/run

clean:
	rm -rf build
