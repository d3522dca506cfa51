// Encodes and decodes the largest reply the channel sends, an enumerateMedia
// listing, and compares the throughput with a plain memcpy of the same bytes
// measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"

namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

constexpr int kEntries = 100000;

EncodableValue MakeMediaList() {
  ValueList list;
  list.reserve(kEntries);
  char text[64];
  for (int i = 0; i < kEntries; ++i) {
    ValueMap entry;
    std::snprintf(text, sizeof(text), "o%X", 0x10000 + i);
    entry["objectId"] = std::string(text);
    std::snprintf(text, sizeof(text), "IMG_%04d.%s", i % 10000,
                  i % 7 ? "HEIC" : "MOV");
    entry["name"] = std::string(text);
    std::snprintf(text, sizeof(text), "%03dAPPLE", 100 + i / 1000);
    entry["parentPath"] = std::string(text);
    entry["size"] = int64_t{1500000} + (int64_t{i} * 7919) % 90000000;
    std::snprintf(text, sizeof(text), "2023-%02d-%02dT%02d:%02d:%02d",
                  1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60);
    entry["date"] = std::string(text);
    list.emplace_back(std::move(entry));
  }
  return EncodableValue(std::move(list));
}

const EncodableValue& MediaList() {
  static const EncodableValue* list = new EncodableValue(MakeMediaList());
  return *list;
}

const flutter::MethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

const std::vector<uint8_t>& EncodedReply() {
  static const auto* bytes =
      Codec().EncodeSuccessEnvelope(&MediaList()).release();
  return *bytes;
}

// Takes the decoded listing the way a peer would: look at it, keep nothing.
class CountingResult : public flutter::MethodResult {
 public:
  size_t entries = 0;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    entries = result ? std::get<ValueList>(*result).size() : 0;
  }
  void ErrorInternal(const std::string&, const std::string&,
                     const EncodableValue*) override {}
  void NotImplementedInternal() override {}
};

void BM_Memcpy(benchmark::State& state) {
  const auto& source = EncodedReply();
  std::vector<uint8_t> destination(source.size());
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * source.size()));
}

void BM_EncodeMediaList(benchmark::State& state) {
  const auto& list = MediaList();
  size_t size = 0;
  for (auto _ : state) {
    auto bytes = Codec().EncodeSuccessEnvelope(&list);
    size = bytes->size();
    benchmark::DoNotOptimize(bytes->data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_DecodeMediaList(benchmark::State& state) {
  const auto& bytes = EncodedReply();
  for (auto _ : state) {
    CountingResult result;
    bool ok = Codec().DecodeEnvelope(bytes.data(), bytes.size(), &result);
    if (!ok || result.entries != kEntries)
      state.SkipWithError("decode lost entries");
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeMediaList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMediaList)->Unit(benchmark::kMillisecond);

// Prints the console table as usual and keeps each benchmark's throughput.
class ThroughputReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> bytes_per_second;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (run.run_type == Run::RT_Iteration && it != run.counters.end()) {
        bytes_per_second[run.run_name.function_name] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ThroughputReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto rate = [&](const char* name) {
    auto it = reporter.bytes_per_second.find(name);
    return it == reporter.bytes_per_second.end() ? 0.0 : it->second;
  };
  double memcpy_rate = rate("BM_Memcpy");
  std::printf("\nreply: %d entries, %.2f MB\n", kEntries,
              EncodedReply().size() / 1e6);
  for (const char* name : {"BM_EncodeMediaList", "BM_DecodeMediaList"}) {
    double codec_rate = rate(name);
    if (codec_rate <= 0 || memcpy_rate <= 0) continue;
    std::printf(
        "%-20s %9.1f MB/s  ratio to memcpy %.4f (memcpy %.1f MB/s, %.0fx "
        "faster)\n",
        name, codec_rate / 1e6, codec_rate / memcpy_rate, memcpy_rate / 1e6,
        memcpy_rate / codec_rate);
  }
  return 0;
}
