# Entry points. Each runs the set-up first, so a fresh Debian machine needs nothing more.
.PHONY: all setup windows native test demo run clean

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

# make run ARGS="PORT COMMAND LINE..." (passed on exactly, through the environment)
run: export TOLVANE_ARGS = $(ARGS)
run: windows
	@scripts/run

clean:
	rm -rf build
