# For OpenBench and other tools that build engines with make: `make EXE=<path>` builds the
# release engine through CMake and Ninja, with the flags of the CMake build, and copies it to
# <path>; `make` alone writes ./talvek-engine. CXX (and CC) choose the compiler; BUILD_DIR the
# folder CMake builds in.
EXE ?= talvek-engine
CXX ?= c++
BUILD_DIR ?= build-make

.PHONY: all clean FORCE
all: $(EXE)

$(EXE): FORCE
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVEK_TESTS=OFF -DCMAKE_CXX_COMPILER="$(CXX)"
	cmake --build $(BUILD_DIR) --target talvek
	cp $(BUILD_DIR)/talvek $(EXE)

clean:
	rm -rf $(BUILD_DIR)

FORCE:
