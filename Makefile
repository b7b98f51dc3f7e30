# Front door: `make run` and `make test` install what is missing, configure, build and go.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

configure: deps $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The most complete thing the program does so far: the bundled demo, run headless as text.
run: build
	@echo "make run: plimo --run Usr/demo/Main.plimo Usr/demo/Ball.plimo (the game window comes with the screen subsystem)"
	@$(BUILD)/src/plimo --run Usr/demo/Main.plimo Usr/demo/Ball.plimo

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=Release
bench: BUILD = build-release
bench:
	@scripts/install-deps --bench
	@$(MAKE) --no-print-directory BUILD=$(BUILD) CMAKE_FLAGS="$(CMAKE_FLAGS)" build
	@scripts/run-benchmarks $(BUILD)

clean:
	rm -rf build build-release build-asan
