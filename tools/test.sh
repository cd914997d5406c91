#!/usr/bin/env bash
# Installs what the builds and the tests need when it is missing, builds Tavrix for POSIX and
# for Windows (64-bit and 32-bit, cross-compiled), and runs every test through CTest:
#   build/        the POSIX suite, the end-to-end tests under valgrind, clang-tidy and cppcheck,
#                 the manual page and the .deb (installed with dpkg, run, removed)
#   build-asan/   the POSIX suite again under AddressSanitizer and UBSan, and the fuzz targets
#   build-portable/  the unit, end-to-end and property tests of the build for POSIX.1-2008
#                 alone (TAVRIX_PORTABLE_POSIX: no call that only Linux has)
#   build-win64/  the Windows suite under Wine, the version resource, the .zip
#   build-win32/  checks of the 32-bit program, which cannot run here
# Usage: tools/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
command -v tmux >/dev/null || need+=(tmux)
command -v setpriv >/dev/null || need+=(util-linux)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
    need+=(libclang-rt-14-dev)
command -v valgrind >/dev/null || need+=(valgrind)
command -v clang-tidy >/dev/null || need+=(clang-tidy)
command -v clang-format >/dev/null || need+=(clang-format)
command -v cppcheck >/dev/null || need+=(cppcheck)
command -v groff >/dev/null || need+=(groff-base)
command -v fusermount3 >/dev/null || need+=(fuse3)
[ -f /usr/include/fuse3/fuse.h ] || need+=(libfuse3-dev)
command -v pkg-config >/dev/null || need+=(pkg-config)
command -v setfacl >/dev/null || need+=(acl)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v lintian >/dev/null || need+=(lintian)
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${need[@]}"
fi

build() {  # build DIR [cmake options]
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_TESTS=ON "$@"
    cmake --build "$dir"
}
build build
CXX=clang++ build build-asan -DTAVRIX_SANITIZE=ON -DTAVRIX_FUZZ=ON
build build-portable -DTAVRIX_PORTABLE_POSIX=ON
build build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
    -DTAVRIX_WIN32_EXE="$PWD/build-win32/Tavrix.exe"

status=0
for dir in build build-asan build-portable build-win64 build-win32; do
    echo "== Tests in $dir"
    ctest --test-dir "$dir" --output-on-failure || status=1
done
exit $status
