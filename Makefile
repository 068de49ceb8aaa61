# Entry points for people and CI. Each target makes sure the packages are there first.
.PHONY: run install uninstall backend test windows bench fuzz tsan format setup clean

FUZZ_SECONDS ?= 60

setup:
	@scripts/setup

# Builds the optimised application and its page, and starts it on this computer's network: its
# window when there is a display (DISPLAY or WAYLAND_DISPLAY), otherwise the headless front end,
# which prints the address to open in a browser. Extra options in ARGS, e.g.
#   make run ARGS="--simulate tests/scenario/worlds/wifi_loss.json"   (a simulated network)
#   make run ARGS="--interface eth0"                                   (pin the adapter)
ARGS ?=
run: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target quillon quillon_ui_assets
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then build/release/src/app/quillon $(ARGS); \
	else build/release/src/app/quillon --headless $(ARGS); fi

# Installs the optimised application for this user the XDG way: the program and its page in
# PREFIX/lib/quillon, a link in PREFIX/bin, the desktop entry (menus list "Quillon") and the
# icon under PREFIX/share. PREFIX defaults to ~/.local; e.g. sudo make install PREFIX=/usr/local.
# make uninstall removes what the last install put there.
PREFIX ?= $(HOME)/.local
install: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target quillon quillon_ui_assets
	@cmake --install build/release --prefix "$(PREFIX)"
	@-command -v update-desktop-database >/dev/null && update-desktop-database -q "$(PREFIX)/share/applications"
	@echo "Installed: $(PREFIX)/bin/quillon, and Quillon in the desktop's menu"

uninstall:
	@test -f build/release/install_manifest.txt || { echo "nothing installed from this build"; exit 1; }
	@xargs -d '\n' rm -f < build/release/install_manifest.txt
	@-rmdir "$(PREFIX)/lib/quillon/ui/assets" "$(PREFIX)/lib/quillon/ui" "$(PREFIX)/lib/quillon" 2>/dev/null
	@echo "Removed what build/release/install_manifest.txt lists"

# Builds the self-hosted backend server and starts it on loopback with its database in
# build/backend/; it prints the base address to put in Quillon's config.json. Ctrl-C ends it.
# Options in BACKEND_ARGS, e.g. make backend BACKEND_ARGS="--listen 127.0.0.1:9000".
BACKEND_ARGS ?=
backend: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target quillon-backend
	@mkdir -p build/backend
	@build/release/backend/quillon-backend serve --db build/backend/backend.db $(BACKEND_ARGS)

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every suite, and the
# Windows build's unit and scenario tests under Wine.
test: setup windows
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev
	@scripts/run-tests build/dev build/windows

# Cross-builds the portable core, the simulated platform and their tests for 64-bit Windows
# (MinGW-w64) into build/windows; `ctest --test-dir build/windows` runs the tests under Wine.
windows: setup
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

# ThreadSanitizer run of the unit and scenario suites. The HTTP library is not built with the
# sanitizer: its internal traffic is suppressed (tests/tsan.supp), and the bridge tests, whose
# test client stops httplib requests from another thread, are left to the other runs.
tsan: setup
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp" \
	    ctest --test-dir build/tsan -j2 --output-on-failure -E '^HeadlessShellTest\.'


# Google Benchmark programs, compared side by side in one run each. bench_headless runs the
# built quillon --headless on a simulated home; its idle run lasts QUILLON_BENCH_IDLE_SECONDS
# (default 600), e.g. `make bench QUILLON_BENCH_IDLE_SECONDS=60` for a short run. Then, as
# root, CPU per echo request of quillon and mtr on the lab path, and CPU per HTTPS probe of
# quillon and curl on the lab's web site (a line says each was skipped otherwise).
bench: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target quillon_benchmarks
	@for b in build/release/bench/bench_*; do echo "== $$b"; $$b; done
	@echo "== bench/lab_cpu_per_probe.sh"; bench/lab_cpu_per_probe.sh build/release/src/app/quillon
	@echo "== bench/lab_https_probe.sh"; bench/lab_https_probe.sh build/release/bench/lab_https_probe

# Each fuzz target for FUZZ_SECONDS seconds; a crash, leak or sanitizer report fails the target.
fuzz: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@for f in build/fuzz/tests/fuzz/fuzz_*; do \
	    name=$$(basename $$f); corpus=build/fuzz/corpus/$$name; mkdir -p $$corpus; \
	    echo "== $$name for $(FUZZ_SECONDS) s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$corpus tests/fuzz/seeds/$$name || exit 1; \
	done

# clang-format on the C++ sources, prettier on the web page's.
format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i
	@cd web && npm run --silent format -- --log-level=warn

clean:
	rm -rf build
