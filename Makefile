# Entry points. Each runs the set-up first, so a fresh Debian machine needs nothing more.
.PHONY: all setup windows windows64 native linux test demo demo-linux bench bench-linux run release \
	deb install uninstall clean

all: windows

setup:
	@scripts/setup

windows: setup
	@scripts/build windows

# The same programs for x86_64, run under 64-bit Wine where 32-bit programs cannot run. Demo, run
# and bench build it themselves when they need it (scripts/wine-session decides); make test
# always does, for its short set under the forced 64-bit mode.
windows64: setup
	@scripts/build windows64

native: setup
	@scripts/build native

linux: setup
	@scripts/build linux

# The builds, unit tests (native, scripted clock), sanitizers, fuzzing, then the real programs:
# the exe under Wine and, beside it, the Linux build under Xvfb and the release rebuilt.
test: setup
	@scripts/test

demo: windows
	@scripts/demo

# The same first look with the native Linux build.
demo-linux: linux
	@scripts/demo-linux

# Measured figures (restart rate and latency, idle cost, size) printed as a table.
bench: windows
	@bench/run

# The Linux monitor against runsv, s6-supervise, supervise and supervisord (installed if missing).
bench-linux: linux
	@bench/linux-run

# make run ARGS="PORT COMMAND LINE..." (passed on exactly, through the environment)
run: export TOLVANE_ARGS = $(ARGS)
run: windows
	@scripts/run

# build/release/tolvane-VERSION-win32.zip (the exe, the front and Windows pages as text, the
# window's picture, SHA256SUMS, the x86_64 exe as x64/tolvane.exe) and
# build/release/tolvane_VERSION_amd64.deb (debhelper, from a copy of the sources), rebuilt bit
# for bit from the same sources and tools; prints their paths and checksums.
release: windows windows64
	@scripts/release
	@scripts/release-deb

# The Debian package alone.
deb: setup
	@scripts/release-deb

# The Linux monitor (stripped), its service unit and its manual page, under PREFIX (staged under
# DESTDIR if given); uninstall removes exactly those files.
PREFIX ?= /usr/local
install: linux
	@scripts/install "$(DESTDIR)" "$(PREFIX)"

uninstall:
	@scripts/install --uninstall "$(DESTDIR)" "$(PREFIX)"

clean:
	rm -rf build
