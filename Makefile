# Thin wrapper over CMake + CTest.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build test example mutation coverage clean deb

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

example: build
	cd examples && $(abspath $(BUILD))/tools/orva/orva log_report.orva

# Puts each fault of tests/mutation/mutations.txt into a scratch copy of the tree and runs
# the tests on it (see tests/README.md); MUTATION=REGEX runs only the faults it matches.
mutation:
	JOBS=$(JOBS) tests/mutation/run.sh "$(MUTATION)"

# Line and branch coverage of src/ by the tests: an HTML map in $(COVERAGE)/html and a
# summary per file.
COVERAGE ?= build-coverage
COVERAGE_FLAGS = --coverage -fprofile-update=atomic
LCOV = lcov --quiet --rc lcov_branch_coverage=1 --rc geninfo_no_exception_branch=1
coverage:
	scripts/install-deps.sh lcov
	cmake -S . -B $(COVERAGE) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$(COVERAGE_FLAGS)" \
	  -DCMAKE_C_FLAGS="$(COVERAGE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
	cmake --build $(COVERAGE) -j $(JOBS)
	$(LCOV) --zerocounters --directory $(COVERAGE)
	cd $(COVERAGE) && ctest --output-on-failure -j $(JOBS)
	$(LCOV) --capture --directory $(COVERAGE) --output-file $(COVERAGE)/all.info
	$(LCOV) --extract $(COVERAGE)/all.info '$(CURDIR)/src/*' --output-file $(COVERAGE)/src.info
	genhtml --quiet --branch-coverage --output-directory $(COVERAGE)/html $(COVERAGE)/src.info
	$(LCOV) --list $(COVERAGE)/src.info
	@echo "coverage map: $(COVERAGE)/html/index.html"

clean:
	rm -rf $(BUILD)

# Debian packages liborva0, liborva-dev and orva in $(BUILD_DEB) (an optimized build
# installed under /usr, without the tests).
BUILD_DEB ?= build-deb
deb:
	cmake -S . -B $(BUILD_DEB) -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVA_BUILD_TESTS=OFF
	cmake --build $(BUILD_DEB) -j $(JOBS)
	cd $(BUILD_DEB) && cpack -G DEB
