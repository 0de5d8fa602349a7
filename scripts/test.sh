#!/usr/bin/env bash
# Installs, builds and runs every test. Needs no display and no GPU.
set -euo pipefail
cd "$(dirname "$0")/.."

# The native build is the release preset's, build/release, where the
# scripts below look for it too.
scripts/install-deps.sh test
cmake --preset release
cmake --build --preset release -j"$(nproc)"
# The fast gate: the suite without the tests labelled "long", stopping at
# its first failure, so a broken change is known in minutes instead of
# after the Wine, web and package runs.
ctest --preset release -LE long --stop-on-failure -j"$(nproc)"
# Then the long ones: lockstep runs, the fine lab runs, end to end in Xvfb.
ctest --preset release -L long -j"$(nproc)"
# A short soak of both programs headless (the full one is 100000 steps,
# see README.md): positions finite and in the box, memory flat.
scripts/soak.sh 5000
# A short input storm on the native programs in Xvfb (the full one is 5000
# events each, see README.md): one allocation line per middle or right
# press, frames still drawn, memory bounded, exit code 0 on close.
tests/e2e/storm.sh 1000

# The Windows programs, cross-built with MinGW-w64 against a GLEW and a
# Dear ImGui built from Debian's source packages, then driven under Wine in
# Xvfb.
scripts/build-glew-mingw.sh
scripts/fetch-imgui-source.sh
cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
tests/e2e/wine_e2e.sh build/windows
# The lab's window as the .exe under Wine: panel, pause, step, reset, a
# slider, colours, and its hash against the Windows headless driver's.
tests/e2e/lab_e2e.sh build/windows .exe
# The same short input storm on the .exe files under Wine.
tests/e2e/storm.sh 1000 build/windows
# The test programs cross-built too and run under Wine, each program one
# Wine process, all in one Xvfb display and one Wine prefix (build/wine-prefix)
# that the test preset starts and stops; then the Windows headless drivers
# against the Linux ones: the same fluid from the same layout.
cmake --preset windows-tests
cmake --build --preset windows-tests -j"$(nproc)"
ctest --preset windows-tests -j"$(nproc)"
tests/wine/cross_hashes.sh build/windows
# The same short soak with the Windows headless drivers under Wine.
scripts/soak.sh 5000 build/windows

# The two programs as web pages, built with Emscripten, then driven in
# Debian's chromium, headless, drawing with SwiftShader; the solver's state
# hash in the browser is checked against the native build's.
NODE_PATH=/usr/share/nodejs cmake --preset web
NODE_PATH=/usr/share/nodejs cmake --build --preset web -j"$(nproc)"
tests/web/run.sh build/web

# The Debian package and the Windows zip, made from the two builds above,
# then installed, run and removed as a user would; the web archive beside
# them, from the web build.
scripts/package.sh
tests/e2e/package_e2e.sh build/packages

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer;
# any finding fails its test. Tests labelled "long" are left out there.
cmake --preset asan
cmake --build --preset asan -j"$(nproc)"
# The preset makes an over-large allocation return null, as the C runtime
# does, so refused reseeds are tested here too; it also keeps Mesa's
# software renderer single-threaded, since LeakSanitizer cannot stop its
# worker threads.
ctest --preset asan -j"$(nproc)"

# The lab's solver, worker pool and run loop under ThreadSanitizer (only
# those tests: nothing that draws, since Mesa's threads are not
# instrumented, and no long physics run, which adds no thread of its own),
# on 8 threads (more than the cores, so that pieces are taken from other
# threads' runs all the time; a second round on 2 took a minute of the
# run's time); any race reported fails its test.
cmake --preset tsan
cmake --build --preset tsan -j"$(nproc)"
PONDSIM_TEST_THREADS=8 ctest --preset tsan -j"$(nproc)"

# A short fuzz run: each libFuzzer target (window messages, particle states,
# the drivers' state files and command lines; both programs, and the lab's
# driver) for 10 s under ASan and UBSan, which keeps the whole run within
# its time on a fresh machine. Longer: scripts/fuzz.sh 600.
scripts/fuzz.sh 10
