#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# clang-tidy (the checks in .clang-tidy) over our own sources: src/, host/ and filterd/, not the
# tests and not generated files. It needs a compile database with clang's flags and the one
# generated header our sources include (the BPF skeleton); nothing else is built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-tidy
cmake --preset tidy >/dev/null
ninja -C "$BUILD" filterd/gen/flowfilter.skel.h
run-clang-tidy -quiet -p "$BUILD" -j"${VB_JOBS:-2}" "^$PWD/(src|host|filterd)/.*\\.(c|cpp)\$"
