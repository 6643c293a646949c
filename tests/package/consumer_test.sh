#!/usr/bin/env bash
# Installs the build tree into a prefix of its own, then builds and runs the
# consumer program (consumer/) against it twice: through find_package(vevura)
# and through `pkg-config vevura`. Fails on the first step that fails.
#
# usage: consumer_test.sh BUILD WORK CMAKE CXX CXX_FLAGS EXE_LINKER_FLAGS BUILD_TYPE MAKE_PROGRAM
#   BUILD is the build tree to install, WORK a folder inside it that this
#   script owns (emptied first); the compiler, flags and build type are the
#   build tree's, so that the consumer links with its libraries.
set -euo pipefail
if [[ $# -ne 8 ]]; then
  echo "usage: $0 BUILD WORK CMAKE CXX CXX_FLAGS EXE_LINKER_FLAGS BUILD_TYPE MAKE_PROGRAM" >&2
  exit 2
fi
build=$1 work=$2 cmake=$3 cxx=$4 cxx_flags=$5 linker_flags=$6 build_type=$7 make_program=$8
source_dir=$(cd "$(dirname "$0")/consumer" && pwd)
if [[ "$work" != "$build"/?* ]]; then
  echo "consumer_test: $work is not inside $build" >&2
  exit 2
fi

step() { echo "== $*"; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step "install into $prefix"
"$cmake" --install "$build" --prefix "$prefix"

step "configure the consumer with find_package(vevura)"
"$cmake" -S "$source_dir" -B "$work/consumer-build" -G Ninja \
  -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxx_flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$linker_flags" -DCMAKE_BUILD_TYPE="$build_type"
step "build the consumer"
"$cmake" --build "$work/consumer-build"
step "run the consumer"
"$work/consumer-build/consumer" "$work/data-cmake"

step "compile the consumer with pkg-config vevura"
pc_file=$(find "$prefix" -name vevura.pc -print -quit)
if [[ -z "$pc_file" ]]; then
  echo "consumer_test: no vevura.pc under $prefix" >&2
  exit 1
fi
pc_flags=$(PKG_CONFIG_PATH=$(dirname "$pc_file") pkg-config --cflags --libs vevura)
read -ra compile_flags <<<"$cxx_flags"
read -ra link_flags <<<"$linker_flags"
read -ra package_flags <<<"$pc_flags"
"$cxx" "${compile_flags[@]}" -std=c++20 -Wall -Wextra -Werror "$source_dir/main.cpp" \
  "${package_flags[@]}" "${link_flags[@]}" -o "$work/consumer-pkg-config"
step "run the consumer built with pkg-config"
"$work/consumer-pkg-config" "$work/data-pkg-config"
