# Thin wrapper over CMake + CTest.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build test example clean deb

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

example: build
	cd examples && $(abspath $(BUILD))/tools/orva/orva log_report.orva

clean:
	rm -rf $(BUILD)

# Debian packages liborva0, liborva-dev and orva in $(BUILD_DEB) (an optimized build
# installed under /usr, without the tests).
BUILD_DEB ?= build-deb
deb:
	cmake -S . -B $(BUILD_DEB) -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVA_BUILD_TESTS=OFF
	cmake --build $(BUILD_DEB) -j $(JOBS)
	cd $(BUILD_DEB) && cpack -G DEB
