// How fast daqctl's recording writers turn samples into text: the CSV and
// JSON writers, fed blocks of 4096 words as a background acquisition's
// fetches deliver them, writing to /dev/null; against them, the way the CSV
// used to be made ({:.9g} through fmt for every field, the whole document in
// memory). Items are samples: the CSV writer must keep up with 2M samples/s,
// sixteen times the board's fastest rate.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sample_writer.h"

namespace {

constexpr size_t kBlock = 4096;

const std::vector<uint16_t>& Words() {
  static const std::vector<uint16_t> words = [] {
    std::vector<uint16_t> w(kBlock);
    uint32_t x = 2463534242u;
    for (auto& v : w) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      v = uint16_t(0xF000u | (x & 0x0FFFu));
    }
    return w;
  }();
  return words;
}

daqctl::RecordingInfo Info(bool codes) {
  daqctl::RecordingInfo info;
  info.tool = "daqctl bench";
  info.slot = "0:07";
  info.rangeVolts = 10;
  info.mode = "background";
  info.divisor = 32;
  info.clockHz = 4e6;
  info.startTime = "2024-01-01T00:00:00.000Z";
  info.codes = codes;
  return info;
}

// One recording of state.range(0) samples per iteration.
template <class Make>
void Record(benchmark::State& state, Make make, bool codes) {
  const int64_t samples = state.range(0);
  for (auto _ : state) {
    auto writer = make(daqctl::OutputFile::Open("/dev/null"), Info(codes));
    for (int64_t done = 0; done < samples; done += int64_t(kBlock)) writer->Write(Words().data(), kBlock);
    writer->Finish("complete");
  }
  state.SetItemsProcessed(state.iterations() * samples);
}

void BM_CsvWriter(benchmark::State& state) { Record(state, daqctl::MakeCsvWriter, false); }
void BM_CsvWriterWithCodes(benchmark::State& state) { Record(state, daqctl::MakeCsvWriter, true); }
void BM_JsonWriter(benchmark::State& state) { Record(state, daqctl::MakeJsonWriter, false); }

// The CSV as daqctl made it before: every line through fmt's {:.9g}, the
// document in one string, written at the end.
void BM_CsvFormattedWhole(benchmark::State& state) {
  const int64_t samples = state.range(0);
  const double period = 32 / 4e6;
  for (auto _ : state) {
    std::string out = "index,time_s,volts\n";
    for (int64_t i = 0; i < samples; ++i) {
      const uint16_t code = Words()[size_t(i) % kBlock] & 0x0FFF;
      const double volts = double(float((double(code) - 2048) / 2048 * 10.0));
      out += fmt::format("{},{:.9g},{:.9g}", i, double(i) * period, volts);
      out += '\n';
    }
    std::FILE* f = std::fopen("/dev/null", "wb");
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * samples);
}

BENCHMARK(BM_CsvWriter)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvWriterWithCodes)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonWriter)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvFormattedWhole)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
