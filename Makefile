# Front door. `make run` starts the console from an optimised build;
# `make test` checks the tree's format and layers (tools/layers), builds with assertions and buffer-pointer checks (g++, warnings
# as errors) and runs every test three times: as it is (the program's own runs once more started from
# the boot data instead of its heap image), under the collector's stress mode (a collection
# at every GC_STRESS-th series allocation; the tests labelled heavy at every HEAVY_GC_STRESS-th, the piped
# transcripts not at all), and in a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings as errors; the piped transcripts left out there too: they run the
# console code that the in-process transcripts run, and the program's own reading of redirected input
# runs there in the scripts typed at the console; so are the compiled-forms repeats of the evaluation
# transcripts but compiled_code's: label repeat), which also gives each fuzz target a short smoke run;
# `make bench` times the programs of bench/ against the same programs in python3, lua5.4, tclsh and perl,
# and the console's prompt on a pseudo-terminal;
# `make fuzz` runs the fuzz targets of the lexer, the evaluator, the codecs, the serialised values
# and the images for FUZZ_SECONDS each (it needs clang); `make golden` writes anew the help of every
# function that `make test` compares (tests/golden/help).

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
GC_STRESS ?= 1
HEAVY_GC_STRESS ?= 16

# Each test shows its line only when it fails; each run ends with its summary.
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
CTEST = ctest --output-on-failure -j $(JOBS) --timeout 3600 $(1) | grep -v -E '^ +Start +[0-9]+: |Test +\#[0-9]+: .* Passed '
FUZZ_SECONDS ?= 60

.PHONY: run test lint bench fuzz golden build-release build-check build-sanitize deps clean

run: build-release
	./build/release/oka

test: lint build-check build-sanitize
	@echo "== The layers at link level: no object uses a symbol of a layer above its own"
	tools/check-layers --objects build/check/CMakeFiles/okaobjects.dir
	@echo "== The tests"
	cd build/check && $(call CTEST)
	@echo "== The program's own runs again (scripts, start-up, the piped transcripts, the terminal sessions), started"
	@echo "   from the boot data instead of the heap image that the build writes beside it (OKA_HEAP_IMAGE=off)"
	cd build/check && OKA_HEAP_IMAGE=off $(call CTEST,-R '^(script|startup|readme|console)\.|\.piped$$')
	@echo "== The tests under the collector's stress mode (OKA_GC_STRESS=$(GC_STRESS)), but the piped transcripts"
	@echo "   and the heavy tests, which run at OKA_GC_STRESS=$(HEAVY_GC_STRESS)"
	cd build/check && OKA_GC_STRESS=$(GC_STRESS) $(call CTEST,-LE 'piped|heavy')
	cd build/check && OKA_GC_STRESS=$(HEAVY_GC_STRESS) $(call CTEST,-L heavy)
	@echo "== The tests built with AddressSanitizer and UndefinedBehaviorSanitizer, but the piped transcripts"
	@echo "   and the compiled-forms repeats of the evaluation transcripts"
	cd build/sanitize && $(call CTEST,-LE 'piped|repeat')

bench: build-release
	bench/run
	build/release/gc_bench
	build/release/line_editor_bench
	build/release/okabin_bench
	build/release/draw_bench
	build/release/tui_bench
	bench/console_prompt.py

# The fuzz targets live in the sanitizer build.
fuzz: build-sanitize
	mkdir -p build/fuzz/corpus build/fuzz/eval-corpus build/fuzz/codec-corpus build/fuzz/okabin-corpus \
		build/fuzz/image-corpus
	build/sanitize/lexer_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/ build/fuzz/corpus tests/fuzz/corpus
	tests/fuzz/transcript-seeds build/fuzz/eval-seeds tests/transcripts/*.txt
	build/sanitize/eval_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -fork=1 -ignore_timeouts=1 -dict=tests/fuzz/eval.dict \
		-artifact_prefix=build/fuzz/eval- build/fuzz/eval-corpus build/fuzz/eval-seeds tests/fuzz/eval_corpus
	build/sanitize/codec_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/codec- \
		build/fuzz/codec-corpus tests/fuzz/codec_corpus
	build/sanitize/okabin_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/okabin- \
		build/fuzz/okabin-corpus tests/fuzz/okabin_corpus
	build/sanitize/image_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/image- \
		build/fuzz/image-corpus tests/fuzz/image_corpus

# Writes the help that the console shows for every function into tests/golden/help/functions.txt,
# which `make test` compares it with: review the difference before committing it.
golden: build-check
	tools/help-golden --update build/check/oka

build-release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

build-check: deps
	cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=Check
	cmake --build build/check -j $(JOBS)

build-sanitize: deps
	cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Check -DOKA_SANITIZE=ON -DOKA_FUZZ=ON \
		-DCMAKE_CXX_COMPILER=clang++
	cmake --build build/sanitize -j $(JOBS)

# The tree's own rules that no compiler checks: the C++ format, includes that point down the layers, and
# payload words read through their field accessors only.
lint: deps
	tools/check-format
	tools/check-layers
	tools/check-payload

deps:
	@tools/install-deps

clean:
	rm -rf build
