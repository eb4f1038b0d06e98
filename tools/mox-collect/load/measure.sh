#!/usr/bin/env bash
# Capacity of one collector serving --prometheus, measured with mox-collect-load:
#  1. ingest: metric lines per CPU second of the collector with --prometheus (all its threads),
#     against expat's raw parse rate of the same bytes on its thread's CPU clock, alternated
#     ROUNDS times, medians and their ratio, and the median of each round's ratio; CPU time, so other load on the machine counts little
#     (wall-clock rates are printed too);
#  2. exposure: the same processes sending an interval every PERIOD seconds while a real
#     Prometheus scrapes the collector: series exposed, scrape_duration_seconds, collector RSS.
# Usage: measure.sh [BUILD_DIR]   (needs prometheus, curl, jq, bc and GNU time; from the top of
# the source tree)
# Environment: PROCESSES (200), KEYS (100), INTERVALS (10), ROUNDS (3), PERIOD (5), SCRAPES (6).
set -euo pipefail
build=${1:-build}
collector=$build/tools/mox-collect/mox-collect
driver=$build/tools/mox-collect/load/mox-collect-load
processes=${PROCESSES:-200} keys=${KEYS:-100} intervals=${INTERVALS:-10} rounds=${ROUNDS:-3}
period=${PERIOD:-5} scrapes=${SCRAPES:-6}
shape=(--processes "$processes" --keys "$keys")
lines=$((processes * (1 + intervals * (keys * 7 + 1))))

work=$(mktemp -d)
pids=()
cleanup() {
  # The collector runs under time(1), which does not pass a signal on: stop its child too.
  for pid in "${pids[@]}"; do kill $(pgrep -P "$pid") "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

start_collector() {  # extra options...; sets collector_pid, collector_port
  rm -f "$work/port"
  /usr/bin/time -f '%U %S' -o "$work/cpu" \
    "$collector" --listen 127.0.0.1:0 --port-file "$work/port" --quiet "$@" >/dev/null 2>"$work/collector.err" &
  collector_pid=$!
  pids+=("$collector_pid")
  until [ -s "$work/port" ]; do
    kill -0 "$collector_pid" 2>/dev/null || { cat "$work/collector.err" >&2; exit 1; }
    sleep 0.05
  done
  collector_port=$(cat "$work/port")
}

echo "stream: $processes processes x $keys timing keys (7 lines each) + 1 resource, $intervals intervals: $lines lines"

for round in $(seq "$rounds"); do
  "$driver" "${shape[@]}" --intervals "$intervals" --expat >"$work/expat.out"
  sed -n 's/^expat .*lines_per_second=//p' "$work/expat.out" >>"$work/expat"
  sed -n 's/^expat_cpu .*lines_per_cpu_second=//p' "$work/expat.out" >>"$work/expat_cpu"
  start_collector --prometheus "127.0.0.1:$(free_port)" --count "$lines" --timeout 600
  began=$(now)
  "$driver" "${shape[@]}" --intervals "$intervals" --connect "127.0.0.1:$collector_port" >/dev/null
  wait "$collector_pid"
  ended=$(now)
  echo "$lines / ($ended - $began)" | bc -l >>"$work/collect"
  echo "$lines / ($(sed 's/ / + /' "$work/cpu"))" | bc -l >>"$work/collect_cpu"
  # The ratio of each round too: the machine's speed moves between rounds more than within one.
  echo "$(tail -n 1 "$work/collect_cpu") / $(tail -n 1 "$work/expat_cpu")" | bc -l >>"$work/ratio_cpu"
  printf 'round %d: per CPU second: expat %.0f, collector %.0f lines; wall clock: expat %.0f, collector %.0f lines/s\n' \
    "$round" "$(tail -n 1 "$work/expat_cpu")" "$(tail -n 1 "$work/collect_cpu")" "$(tail -n 1 "$work/expat")" \
    "$(tail -n 1 "$work/collect")"
done
ratio() { echo "$1 / $2" | bc -l; }
expat_cpu=$(median <"$work/expat_cpu") collect_cpu=$(median <"$work/collect_cpu")
expat_wall=$(median <"$work/expat") collect_wall=$(median <"$work/collect")
printf 'ingest medians per CPU second: expat %.0f, collector with --prometheus %.0f lines, ratio %.2f\n' \
  "$expat_cpu" "$collect_cpu" "$(ratio "$collect_cpu" "$expat_cpu")"
printf 'ingest per CPU second, median of the rounds'"'"' ratios: %.2f\n' "$(median <"$work/ratio_cpu")"
printf 'ingest medians wall clock: expat %.0f, collector with --prometheus %.0f lines/s, ratio %.2f\n' \
  "$expat_wall" "$collect_wall" "$(ratio "$collect_wall" "$expat_wall")"

metrics_port=$(free_port)
prometheus_port=$(free_port)
# No expiry while the scrapes below are timed after the last interval.
start_collector --prometheus "127.0.0.1:$metrics_port" --prometheus-expiry 1000
cat >"$work/prometheus.yml" <<CONFIG
global: {scrape_interval: ${period}s, scrape_timeout: ${period}s}
scrape_configs:
  - job_name: mox-collect
    honor_labels: true
    static_configs: [{targets: ['127.0.0.1:$metrics_port']}]
CONFIG
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn 2>"$work/prometheus.err" &
pids+=($!)
"$driver" "${shape[@]}" --intervals $((scrapes + 2)) --period "$period" --connect "127.0.0.1:$collector_port" \
  >/dev/null &
driver_pid=$!
pids+=("$driver_pid")
# Two intervals to fill the series, then the scrapes that are measured.
sleep $((period * 2))
query() {
  curl -s "http://127.0.0.1:$prometheus_port/api/v1/query" --data-urlencode "query=$1" |
    jq -r '.data.result[0].value[1] // "none"'
}
sleep $((period * scrapes))
window="$((period * scrapes))s"
echo "exposure: series $(query 'mox_collect_series'), samples per scrape $(query 'max_over_time(scrape_samples_scraped[1m])')"
echo "scrape_duration_seconds over the last $window: max $(query "max_over_time(scrape_duration_seconds[$window])"), mean $(query "avg_over_time(scrape_duration_seconds[$window])")"
collector_process=$(pgrep -P "$collector_pid")
echo "collector: $(grep -E 'VmRSS|VmHWM' "/proc/$collector_process/status" | tr -s ' \t' ' ' | tr '\n' ' ')"
# The collector's CPU time for one scrape (gzip, as Prometheus asks), with nothing else arriving.
wait "$driver_pid"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$collector_process/stat"; }
for scrape in 1 2 3; do
  before=$(cpu_ticks) began=$(now)
  curl -s --compressed -o /dev/null "http://127.0.0.1:$metrics_port/metrics"
  ended=$(now) after=$(cpu_ticks)
  printf 'scrape %d by curl: collector CPU %.2f s, wall clock %.2f s\n' "$scrape" \
    "$(echo "($after - $before) / $(getconf CLK_TCK)" | bc -l)" "$(echo "$ended - $began" | bc -l)"
done
