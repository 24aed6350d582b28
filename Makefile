# The two commands the README shows: `make test` and `make run`.
JOBS ?= $(shell nproc)
DEBUG_DIR := build/debug
RELEASE_DIR := build/release

.PHONY: test run deb deps

deps:
	@scripts/install-deps.sh

test: deps
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON
	cmake --build $(DEBUG_DIR) -j $(JOBS)
	ctest --test-dir $(DEBUG_DIR) --output-on-failure -j $(JOBS) --timeout 300

run: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	scripts/run.sh $(RELEASE_DIR)

# The Debian package, from the release build: build/release/package/vantrel_*.deb.
deb: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	scripts/check-deb.sh $(RELEASE_DIR)
