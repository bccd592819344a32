# Short commands over CMake presets. `make test` is what CI runs.
PRESET ?= $(if $(CI),ci,default)
JOBS ?= 2

.PHONY: all deps configure build test bench run clean format

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	@bash scripts/run-tests.sh $(PRESET)

bench: build
	@bash scripts/run-benchmarks.sh

clean:
	rm -rf build build-debug

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i
