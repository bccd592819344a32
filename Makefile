# Short commands over CMake presets. `make test` is what CI runs.
PRESET ?= $(if $(CI),ci,default)
JOBS ?= 2
BUILD_DIR = $(if $(filter debug,$(PRESET)),build-debug,build)

.PHONY: all deps configure build test benchmarks bench coverage fuzz package run clean format format-check lint

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	@bash scripts/run-tests.sh $(PRESET)

# The benchmarks are not part of the default build: `benchmarks` builds them (CI does, so
# they keep compiling), `bench` builds and runs them.
benchmarks: build
	@cmake --build --preset $(PRESET) -j $(JOBS) --target benchmarks

bench: benchmarks
	@bash scripts/run-benchmarks.sh

# Line coverage of src/ by the tests (build dir build-cov; gcovr's summary, the table in
# build-cov/coverage.txt). `make coverage TESTS=<regex>` measures only the matching tests.
coverage: deps
	@TESTS="$(TESTS)" bash scripts/coverage.sh

# The libFuzzer programs of fuzz/ (clang, build dir build-fuzz), each run FUZZ_SECONDS seconds
# in turn; scripts/run-fuzz.sh lists its other options. `make fuzz FUZZ_SECONDS=600`.
FUZZ_SECONDS ?= 60

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzz.sh

# Debian packages of the desktop and the server in build/packages (docs/deployment.md);
# scripts/check-packages.sh checks them.
package: build
	@rm -f $(BUILD_DIR)/packages/*.deb
	@cmake --build --preset $(PRESET) -j $(JOBS) --target package

# The desktop on the embedded demo data: installs what is missing, builds only the shell and
# opens it. Options go in ARGS, e.g. `make run ARGS="--server http://forms-server:8080"`.
# Without a desktop session: `xvfb-run make run`.
FORMSMAINT = $(BUILD_DIR)/apps/formsmaint/formsmaint

run: configure
	@cmake --build --preset $(PRESET) -j $(JOBS) --target formsmaint
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  echo "No display to open the screen on: run 'xvfb-run make run', or start it from a desktop session."; \
	  exit 1; \
	fi
	@$(FORMSMAINT) $(ARGS)

clean:
	rm -rf build build-debug build-cov build-fuzz

# clang-tidy over src/ with the checks of .clang-tidy (bugprone, performance, a few
# modernize); any finding fails. scripts/lint.sh; CI runs it. LINT_JOBS clang-tidy runs at
# once (default JOBS).
LINT_JOBS ?= $(JOBS)

lint: configure
	@LINT_JOBS=$(LINT_JOBS) bash scripts/lint.sh $(BUILD_DIR)

# The tree is kept in the style of .clang-format; CI refuses a file that is not.
format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check: deps
	@git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run --Werror
