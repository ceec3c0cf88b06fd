#!/usr/bin/env bash
# Copies this machine's GoogleTest (headers, static libraries and CMake package files) into DIR,
# keeping their layout under the install prefix, so that a machine without GoogleTest and
# without a package registry can build the tests with GTEST_ROOT=DIR (see tests/gpu/run.sh).
#
#   tests/gpu/pack-googletest.sh DIR
set -euo pipefail

dir=${1:?usage: tests/gpu/pack-googletest.sh DIR}
config=""
for candidate in /usr/lib/*/cmake/GTest /usr/lib/cmake/GTest /usr/local/lib/*/cmake/GTest \
    /usr/local/lib/cmake/GTest; do
    if [ -f "$candidate/GTestConfig.cmake" ]; then
        config=$candidate
        break
    fi
done
[ -n "$config" ] || { echo "pack-googletest.sh: no GTestConfig.cmake found (install libgtest-dev)" >&2; exit 1; }

# The package's own files say where the prefix is: three levels up from lib/<arch>/cmake/GTest
# (two from lib/cmake/GTest).
case "$config" in
    */lib/*/cmake/GTest) prefix=${config%/lib/*/cmake/GTest}; libdir=${config%/cmake/GTest} ;;
    *) prefix=${config%/lib/cmake/GTest}; libdir=$prefix/lib ;;
esac

mkdir -p "$dir"
cd "$prefix"
files=(include/gtest include/gmock "${libdir#"$prefix"/}/cmake/GTest")
for library in "$libdir"/libgtest*.a "$libdir"/libgmock*.a; do
    [ -e "$library" ] && files+=("${library#"$prefix"/}")
done
tar -cf - "${files[@]}" | tar -xf - -C "$dir"
echo "pack-googletest.sh: GoogleTest from $prefix copied to $dir ($(du -sh "$dir" | cut -f1))"
