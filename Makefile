BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run bench format clean package screenshots fuzz sanitize faults tidy

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

# Not part of `make test`: deliberate faults in the product code, each of which the tests must catch
# (scripts/faults.txt).
faults: build
	@bash scripts/fault-injection.sh $(BUILD_DIR)

# Not part of `make test`: libFuzzer targets (build-fuzz) and the unit tests under sanitizers
# (build-asan, build-tsan).
fuzz:
	@bash scripts/fuzz.sh

sanitize:
	@bash scripts/sanitize.sh

# The naming convention: clang-tidy (.clang-tidy) and the acronym rule (scripts/check-naming.sh).
tidy: build
	@bash scripts/tidy.sh $(BUILD_DIR)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

screenshots: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target veltrane-screenshots
	@mkdir -p docs/screenshots
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tests/screenshots/veltrane-screenshots docs/screenshots

package: build
	@cd $(BUILD_DIR) && cpack -G DEB
	@echo "Debian package: $$(ls -t $(abspath $(BUILD_DIR))/veltrane-recorder_*.deb | head -n 1)"

clean:
	rm -rf $(BUILD_DIR)
