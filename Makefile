# Everything a newcomer needs: `make run` and `make test` install, build and go.
BUILD    ?= build
ASAN     ?= build-asan
FUZZDIR  ?= build-fuzz
JOBS     ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_SECONDS ?= 60
PREFIX   ?= /usr/local

.PHONY: all deps build test sanitize run fuzz bench format check-format tidy clean install uninstall package

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) $(EXTRA_CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDW_SANITIZE=ON -DDW_WERROR=ON
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZDIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDW_FUZZ=ON \
		-DDW_BUILD_UI=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZDIR) -j $(JOBS) --target fuzz_image fuzz_sequence fuzz_records make_seeds
	@scripts/fuzz.sh $(FUZZDIR) $(FUZZ_SECONDS)

bench: build
	@scripts/bench.sh $(BUILD)

# Installs under PREFIX (and DESTDIR, when staging); uninstall with the same PREFIX and DESTDIR
# removes what the last such install put there, as its record in $(BUILD)/install-manifests
# lists it. Both are made absolute, so the record names the place whatever the working folder.
STAGE = $(if $(DESTDIR),$(abspath $(DESTDIR)))
install: build
	DESTDIR="$(STAGE)" cmake --install $(BUILD) --prefix "$(abspath $(PREFIX))"

uninstall:
	cmake -DBUILD="$(abspath $(BUILD))" -DDESTDIR="$(STAGE)" -DPREFIX="$(abspath $(PREFIX))" \
		-P cmake/Uninstall.cmake

# The Debian package: $(BUILD)/diskwright_VERSION_ARCH.deb.
package: build
	cmake --build $(BUILD) --target package

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Fails, naming the lines, where a C++ file differs from what `make format` makes of it.
check-format:
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

# clang-tidy (checks in .clang-tidy) over the product code, with the build's compile commands;
# fails on any finding. TIDY_JOBS files at a time.
TIDY_JOBS ?= 2
tidy: build
	run-clang-tidy -p $(BUILD) -j $(TIDY_JOBS) -quiet \
		-extra-arg=-Wno-unknown-warning-option '^$(CURDIR)/(engine|cli|app|ui)/[^/]+\.cpp$$'

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZDIR)
