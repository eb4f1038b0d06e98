#!/usr/bin/env bash
# The README's two commands on a Debian machine, as root or as a user with sudo:
#
#   ./quickstart.sh demo   installs what is missing, builds the library, mox-demo and mox-collect,
#                          and runs the demo host against the collector (output in ./mox-out)
#   ./quickstart.sh test   installs what the tests need, builds everything, runs the whole suite
#
# Both use the build directory ./build; set MOX_WERROR=ON to make warnings errors.
set -euo pipefail
cd "$(dirname "$0")"

demo_packages=(g++ make cmake uuid-dev libexpat1-dev nlohmann-json3-dev prometheus-cpp-dev)
test_packages=("${demo_packages[@]}" libgtest-dev libbenchmark-dev pkgconf binutils prometheus)
collector_port=59818
out=mox-out
jobs=$(nproc 2>/dev/null || echo 2)

started=$SECONDS
step_number=0
step_count=0
step() {
  step_number=$((step_number + 1))
  printf '[%d/%d] %s (%ds)\n' "$step_number" "$step_count" "$*" $((SECONDS - started))
}
fail() {
  echo "quickstart: $*" >&2
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    fail "installing packages needs root: run this as root or install sudo"
  fi
}

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    echo "      all present"
    return
  fi
  echo "      installing ${missing[*]}"
  command -v apt-get >/dev/null 2>&1 || fail "no apt-get: install ${missing[*]} by hand"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
}

configure() {  # ON|OFF: with the tests or without (no GoogleTest needed)
  local log
  log=$(mktemp)
  cmake -S . -B build -DBUILD_TESTING="$1" -DMOX_WERROR="${MOX_WERROR:-OFF}" >"$log" 2>&1 ||
    { cat "$log" >&2; rm -f "$log"; fail "cmake could not configure the build (above)"; }
  rm -f "$log"
}

build() {
  cmake --build build -j"$jobs" "$@" >build/quickstart-build.log 2>&1 ||
    { tail -n 40 build/quickstart-build.log >&2; fail "the build failed (last lines above; all in build/quickstart-build.log)"; }
}

port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$collector_port") 2>/dev/null; }

# The collector runs in the background writing to files, so the terminal stays
# usable; its table is printed once the demo has ended.
run_demo() {
  port_taken && fail "something already listens on 127.0.0.1:$collector_port (an earlier mox-collect?); stop it first"
  mkdir -p "$out"
  rm -f "$out/collector.port"
  local collector=build/tools/mox-collect/mox-collect
  "$collector" --top --out "$out/collected" --listen "127.0.0.1:$collector_port" --port-file "$out/collector.port" \
    >"$out/top.txt" 2>"$out/collector.log" &
  local pid=$!
  local waited=0
  until [ -s "$out/collector.port" ]; do
    kill -0 "$pid" 2>/dev/null || { cat "$out/collector.log" >&2; fail "mox-collect did not start"; }
    [ "$waited" -lt 100 ] || fail "mox-collect did not start listening within 10 s"
    sleep 0.1
    waited=$((waited + 1))
  done
  # Started without any configuration, the library streams to the collector on
  # this machine's port 59818 and writes its trace file into the working directory.
  (cd "$out" && ../build/tools/mox-demo --default-start --seconds "${MOX_DEMO_SECONDS:-10}")
  kill -TERM "$pid"
  wait "$pid" || true
  echo
  cat "$out/top.txt"
  echo
  tail -n 1 "$out/collector.log"
  cat <<EOF

Left behind in ./$out: the library's trace file mox-demo_mox.trc, the metric data and traces as the
collector received them (collected/mox-demo_0_mtdata.log) and the table above (top.txt).
To watch the table live, run in a second terminal:
    ./build/tools/mox-collect/mox-collect --top
and here:
    ./build/tools/mox-demo --default-start --seconds 60
(stop the collector with Ctrl-C). The whole test suite: ./quickstart.sh test
EOF
}

demo() {
  step_count=4
  step "packages"
  install_missing "${demo_packages[@]}"
  step "configure (build/)"
  configure OFF
  step "build libmox, mox-demo and mox-collect"
  build --target mox mox-demo mox-collect
  step "demo host against mox-collect on 127.0.0.1:$collector_port"
  run_demo
  echo "quickstart: done in $((SECONDS - started)) s"
}

test_suite() {
  step_count=4
  step "packages"
  install_missing "${test_packages[@]}"
  step "configure (build/)"
  configure ON
  step "build everything"
  build
  step "run the tests"
  ctest --test-dir build --output-on-failure -j"$jobs"
  echo "quickstart: done in $((SECONDS - started)) s"
}

case "${1:-}" in
  demo) demo ;;
  test) test_suite ;;
  *)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
