#!/usr/bin/env bash
# Installs the calibration library from a build tree into a scratch prefix and
# builds a C program against it, once through find_package(tsai) and once
# through pkg-config.
set -euo pipefail
build=$1
extra_flags=${2:-}  # the flags the library was built with (sanitizers)
source_dir=$(cd "$(dirname "$0")" && pwd)/install_consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" --component Unspecified >/dev/null
test -f "$work/prefix/include/tsai.h"
test -f "$work/prefix/lib/libtsai.a"
if grep -q Gauss "$work/prefix/include/tsai.h"; then echo "private solver in public header" >&2; exit 1; fi

cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_FLAGS="$extra_flags" -DCMAKE_EXE_LINKER_FLAGS="$extra_flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
cc -std=c99 -Wall -Werror $extra_flags "$source_dir/consumer.c" $(pkg-config --cflags --libs tsai) -o "$work/pc-consumer"
"$work/pc-consumer"
