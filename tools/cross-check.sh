#!/bin/sh
# Compiles (compile only: nothing is linked or run) every engine source for
# x86_64-windows-gnu and aarch64-macos, and every binding source for
# aarch64-macos, with zig's clang from PyPI (ziglang), against this machine's
# OpenSSL headers and the Python headers of the given interpreter.  Shows that
# the native code builds on the other two platforms; whether it works there is
# not shown.  Exits non-zero when any file fails to compile.
#
# usage: tools/cross-check.sh PYTHON BUILD_DIR
#   PYTHON     the venv's interpreter; ziglang is installed into it if missing
#   BUILD_DIR  a scratch folder (OpenSSL include tree, job list)
# CROSS_CHECK_JOBS sets how many compilations run at a time (default 2).
set -eu

PY=${1:?usage: cross-check.sh PYTHON BUILD_DIR}
OUT=${2:?usage: cross-check.sh PYTHON BUILD_DIR}
ROOT=$(cd "$(dirname "$0")/.." && pwd)

"$PY" -c 'import ziglang' 2>/dev/null || "$PY" -m pip install -q ziglang
ZIG="$PY -m ziglang"
echo "zig $($ZIG version)"

# OpenSSL's headers are split between <includedir>/openssl and the
# architecture's folder (configuration.h, opensslconf.h); the cross compiler
# must see neither system folder as a whole, so the two are joined here.
# (The architecture's configuration is this machine's, x86_64 Linux: enough
# to compile against, not a description of the other platforms' builds.)
mkdir -p "$OUT"
SSL_INC=$(cd "$OUT" && pwd)/include
rm -rf "$SSL_INC"
mkdir -p "$SSL_INC/openssl"
SSL_ROOT=$(pkg-config --variable=includedir libcrypto 2>/dev/null || echo /usr/include)
if [ ! -f "$SSL_ROOT/openssl/opensslv.h" ]; then
    echo "cross-check: no OpenSSL headers under $SSL_ROOT (install libssl-dev)" >&2
    exit 1
fi
cp "$SSL_ROOT"/openssl/*.h "$SSL_INC/openssl/"
for arch in "$SSL_ROOT"/*-linux-gnu/openssl; do
    if [ -d "$arch" ]; then cp "$arch"/*.h "$SSL_INC/openssl/"; fi
done

PY_INC=$("$PY" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
ENGINE=native/TWCA/seal/engine
COMMON="-std=c++17 -O0 -Wall -Wextra -Wno-missing-field-initializers -isystem $SSL_INC"
ENGINE_FLAGS="-I$ENGINE -Isrc/orvane/TWCA"
BINDING_FLAGS="-Inative -I$ENGINE -Isrc/orvane/TWCA -isystem $PY_INC"

cd "$ROOT"
# One line per compilation: target|flags|file.
JOBS=$OUT/jobs
: > "$JOBS"
for f in $ENGINE/*.cpp; do
    printf '%s|%s|%s\n' x86_64-windows-gnu "$ENGINE_FLAGS" "$f" >> "$JOBS"
    printf '%s|%s|%s\n' aarch64-macos "$ENGINE_FLAGS" "$f" >> "$JOBS"
done
for f in native/TWCA/seal/*.cpp native/TWCA/certcheck/*.cpp $(find native/backend -name '*.cpp' | sort); do
    printf '%s|%s|%s\n' aarch64-macos "$BINDING_FLAGS" "$f" >> "$JOBS"
done
total=$(wc -l < "$JOBS")

# The objects are thrown away, but zig writes them to the working folder when
# told /dev/null, so each gets a name under BUILD_DIR.
OBJ=$(cd "$OUT" && pwd)/obj
rm -rf "$OBJ"
mkdir -p "$OBJ"

export ZIG COMMON OBJ
# Every compilation runs (a failure does not stop the others), then the
# status tells whether any failed.
# shellcheck disable=SC2016
if ! tr '\n' '\0' < "$JOBS" | xargs -0 -n 1 -P "${CROSS_CHECK_JOBS:-2}" sh -c '
    target=${1%%|*}; rest=${1#*|}; flags=${rest%|*}; file=${rest##*|}
    obj=$OBJ/$target-$(echo "$file" | tr / _).o
    if $ZIG c++ -target "$target" $COMMON $flags -c "$file" -o "$obj"; then
        printf "ok    %-20s %s\n" "$target" "$file"
    else
        printf "FAIL  %-20s %s\n" "$target" "$file"
        exit 1
    fi' cross-check; then
    echo "cross-check: FAILED, see the FAIL lines and the compiler messages above" >&2
    exit 1
fi
echo "cross-check: $total compilations, all clean"
