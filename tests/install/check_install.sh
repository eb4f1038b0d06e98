#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the README's minimal
# host against it from outside, once through find_package(mox) and once
# through pkg-config, then runs both and checks the metric text they wrote.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "check_install: $*" >&2; exit 1; }

# The README shows the example exactly as it is in examples/.
sed -n '/^```c$/,/^```$/p' "$src/README.md" | sed '1d;$d' >"$work/readme_example.c"
diff -u "$src/examples/minimal_host.c" "$work/readme_example.c" || fail "README's C example differs from examples/minimal_host.c"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/mox.h bin/mox-collect lib/pkgconfig/mox.pc lib/cmake/mox/moxConfig.cmake; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
soname=$(readelf -d "$prefix"/lib/libmox.so.2.*.* | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libmox.so.2 ] || fail "SONAME is '$soname'"
"$prefix/bin/mox-collect" --version >/dev/null

expect_metric() {  # DIR: the host ran there and wrote its interval
  grep -q 'name="VEL_MOX|minimal-host_0|Shop|handleRequest:Finished Counter" value="1"' \
    "$1/minimal-host_mtdata.log" || fail "no metric text in $1"
}

# find_package(mox) and mox::mox
cmake -S "$src/examples" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
mkdir "$work/run-cmake"
(cd "$work/run-cmake" && "$work/cmake-consumer/minimal_host")
expect_metric "$work/run-cmake"

# pkg-config, as the README shows it
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
mkdir "$work/run-pc"
cc -std=c11 -Wall -Wextra -pedantic-errors -Werror "$src/examples/minimal_host.c" $(pkg-config --cflags --libs mox) \
  -o "$work/run-pc/minimal_host"
(cd "$work/run-pc" && LD_LIBRARY_PATH=$(pkg-config --variable=libdir mox) ./minimal_host)
expect_metric "$work/run-pc"
echo "check_install: installed into a temporary prefix; both consumers built and ran"
