# Entry points for newcomers and CI. Every target first runs the set-up
# script, which installs missing Debian packages and builds.
BUILD ?= build
JOBS  ?= 2
export JOBS

.PHONY: all setup run test sanitize tsan fuzz mutate format clean

all: setup

setup:
	@bash scripts/setup.sh $(BUILD)

# The window when there is a display; otherwise the command-line conversion
# of the sample clip.
run: setup
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "run: starting the window"; \
	  $(BUILD)/bin/tavrelle; \
	else \
	  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset); converting the sample on the command line instead"; \
	  $(BUILD)/bin/tavrelle-cli convert --profile 1 --out $(BUILD)/media/converted $(BUILD)/media/sample.mp4; \
	fi

test: setup
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

sanitize:
	@bash scripts/setup.sh build-asan -DTAVRELLE_SANITIZE=address
	ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 ctest --test-dir build-asan --output-on-failure -j$(JOBS)

tsan:
	@bash scripts/setup.sh build-tsan -DTAVRELLE_SANITIZE=thread
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -j$(JOBS)

# libFuzzer targets built with clang 14 into build-fuzz/, each run for
# FUZZ_SECONDS (default 60); findings go to build-fuzz/findings/.
fuzz: setup
	@bash scripts/fuzz.sh

# The command line on MUTATIONS (default 500) damaged variants of generated media.
mutate: setup
	@bash scripts/mutate.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
