// The Prometheus sink of mox-collect: what write() costs per metric line in
// steady state (the keys known, each interval committed by the next), and
// what a scrape of many series costs: the copy under the store's lock (all
// the sink writer ever waits for), building the families, and the text.
#include <benchmark/benchmark.h>
#include <prometheus/text_serializer.h>
#include <zlib.h>

#include "prometheus_sink.h"
#include "stream_splitter.h"

namespace {

using moxcollect::Record;

// One interval of `processes` processes with `keys` timing keys each (full form, CPU measured) and a
// resource: 6 lines per key.
std::vector<Record> interval(int processes, int keys) {
  std::string stream;
  for (int p = 0; p < processes; ++p) {
    const std::string prefix = "VEL_MOX|service-" + std::to_string(p) + "_0|";
    for (int k = 0; k < keys; ++k) {
      const std::string name = prefix + "Component" + std::to_string(k % 17) + "|method" + std::to_string(k) + ":";
      stream += "<metric type=\"IntAverage\" name=\"" + name + "Active Counter\" value=\"2\" />\n";
      stream += "<metric type=\"IntAverage\" name=\"" + name + "Finished Counter\" value=\"242\" />\n";
      stream += "<metric type=\"IntAverage\" name=\"" + name + "Finished with undefined state\" value=\"0\" />\n";
      stream += "<metric type=\"IntAverage\" name=\"" + name +
                "Avg. Elapsed Time(ms)\" value=\"5\" max=\"9\" min=\"2\" count=\"242\" />\n";
      stream += "<metric type=\"IntAverage\" name=\"" + name +
                "Avg. CPU Time(us)\" value=\"250\" max=\"900\" min=\"20\" count=\"242\" />\n";
    }
    stream += "<metric type=\"LongCounter\" name=\"" + prefix +
              "Pool:Current Value\" value=\"9\" max=\"9\" min=\"8\" count=\"1\" />\n";
  }
  std::vector<Record> records;
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&& e, std::string&& raw) { records.push_back(makeRecord(std::move(e), std::move(raw))); },
      [](const std::string&, const std::string&) {});
  splitter.feed(stream);
  return records;
}

void BM_WritePerMetricLine(benchmark::State& state) {
  const std::vector<Record> records = interval(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  moxcollect::PrometheusSink sink;
  sink.tick(std::chrono::steady_clock::now());
  for (const Record& record : records) sink.write(record);  // the keys are known from here
  for (auto _ : state) {
    for (const Record& record : records) sink.write(record);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(records.size()));
}
BENCHMARK(BM_WritePerMetricLine)->Args({1, 100})->Args({100, 100})->Args({1000, 10});

// A sink holding about `series` series (8 per timing key, 3 per resource).
struct FilledSink {
  explicit FilledSink(int series) {
    const int processes = std::max(series / 1000, 1);
    const std::vector<Record> records = interval(processes, (series / processes - 3) / 8);
    sink.tick(std::chrono::steady_clock::now());
    for (const Record& record : records) sink.write(record);
    sink.finish();
  }
  moxcollect::PrometheusSink sink;
};

void BM_ScrapeCollect(benchmark::State& state) {
  FilledSink filled(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(filled.sink.exposition());
}
BENCHMARK(BM_ScrapeCollect)->Arg(100000)->Unit(benchmark::kMillisecond);

// The parts of a scrape: the families, prometheus-cpp's text of them, and the
// gzip of that text the exposer sends when the scraper accepts it (Prometheus
// does), at the level the exposer uses.
void BM_ScrapeFamilies(benchmark::State& state) {
  FilledSink filled(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(filled.sink.families());
}
BENCHMARK(BM_ScrapeFamilies)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ScrapeText(benchmark::State& state) {
  FilledSink filled(static_cast<int>(state.range(0)));
  const auto families = filled.sink.families();
  for (auto _ : state) benchmark::DoNotOptimize(prometheus::TextSerializer().Serialize(families));
}
BENCHMARK(BM_ScrapeText)->Arg(100000)->Unit(benchmark::kMillisecond);

std::string gzipped(const std::string& text, int level) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, MAX_WBITS + 16, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

void BM_ScrapeGzip(benchmark::State& state) {
  FilledSink filled(100000);
  const std::string text = filled.sink.exposition();
  const int level = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(gzipped(text, level));
  state.counters["bytes"] = static_cast<double>(text.size());
  state.counters["gzip_bytes"] = static_cast<double>(gzipped(text, level).size());
}
BENCHMARK(BM_ScrapeGzip)
    ->Arg(Z_BEST_COMPRESSION)
    ->Arg(Z_DEFAULT_COMPRESSION)
    ->Arg(Z_BEST_SPEED)
    ->Unit(benchmark::kMillisecond);

// The part of a scrape that holds the store's lock, which the sink writer may wait for.
void BM_ScrapeCopyUnderLock(benchmark::State& state) {
  const int series = static_cast<int>(state.range(0));
  const int processes = std::max(series / 1000, 1);
  moxcollect::SeriesStore store(moxcollect::PrometheusSink::kDefaultMaxSeries);
  const auto now = std::chrono::steady_clock::now();
  for (const Record& record : interval(processes, (series / processes - 3) / 8)) {
    store.stage(moxcollect::mapLine(record), 1, now);
  }
  store.commitAll();
  for (auto _ : state) benchmark::DoNotOptimize(store.snapshot());
  state.counters["series"] = static_cast<double>(store.snapshot().series);
}
BENCHMARK(BM_ScrapeCopyUnderLock)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
