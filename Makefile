BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run bench format clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@bash scripts/run-tests.sh $(BUILD_DIR)

run: build
	@bash scripts/run.sh $(BUILD_DIR)

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
