// Cost of Dremor's sample fetch on the simulated backend: VARNO_GetFloatBuffer
// converting 1,000,000 words against a plain copy of the same words, in the
// same run. The export's figure includes the driver stand-in handing the
// words over (one copy out of its FIFO) and the temporary buffer; the
// conversion is also measured alone. Every volts result is checked bit for
// bit against the double-precision computation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "daqsim/bench.h"
#include "dremor.h"
#include "dremor_internal.h"

namespace {

constexpr uint32_t kWords = 1000000;
constexpr uint16_t kConfigCode = 18;  // +-0.1 V: a range that is not a power of two
constexpr float kRange = 0.1f;

const std::vector<uint16_t>& Words() {
  static const std::vector<uint16_t> words = [] {
    std::vector<uint16_t> w(kWords);
    uint32_t x = 12345;
    for (auto& v : w) {
      x = x * 1103515245u + 12345u;
      v = uint16_t(0xF000u | ((x >> 16) & 0x0FFFu));
    }
    return w;
  }();
  return words;
}

bool BitExact(const std::vector<float>& volts, float range) {
  const std::vector<uint16_t>& words = Words();
  for (uint32_t i = 0; i < kWords; ++i) {
    const float want = float((double(words[i] & 0x0FFF) - 2048.0) * (1.0 / 2048.0) * double(range));
    if (std::memcmp(&want, &volts[i], 4) != 0) return false;
  }
  return true;
}

// One board, selected, its interrupt driver armed; trace off.
daqsim::VarnoDriver& PrepareBench() {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.AddMultifunctionBoard({0, 7, 0});
  bench.InstallVarnoDevices();
  bench.SetTraceEnabled(false);
  unsigned short count = 0;
  VARNO_DriverInit(&count);
  VARNO_ActiveBoard(0);
  uint32_t user = 0;
  VARNO_InstallIrq(&user, 0);
  VARNO_SetChannelConfig(0, kConfigCode);
  return *bench.VarnoDevice(0);
}

void SetBytes(benchmark::State& state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * kWords);
  state.SetBytesProcessed(int64_t(state.iterations()) * kWords * 2);
}

// kWords injected into the driver before each timed `fetch` of them.
template <class Fetch>
void TimeFetches(benchmark::State& state, Fetch fetch) {
  daqsim::VarnoDriver& driver = PrepareBench();
  for (auto _ : state) {
    state.PauseTiming();
    driver.InjectSamples(Words());
    state.ResumeTiming();
    if (fetch() != DREMOR_OK) state.SkipWithError("fetch failed");
    benchmark::ClobberMemory();
  }
  SetBytes(state);
  VARNO_DriverClose();
}

// The export: 1,000,000 words handed over by the driver and converted.
void BM_GetFloatBuffer(benchmark::State& state) {
  std::vector<float> volts(kWords);
  TimeFetches(state, [&] { return VARNO_GetFloatBuffer(kWords, volts.data()); });
  if (!BitExact(volts, kRange)) state.SkipWithError("not bit-exact");
}
BENCHMARK(BM_GetFloatBuffer)->Unit(benchmark::kMicrosecond);

// The same words through the raw export: the driver's hand-over alone.
void BM_GetBuffer(benchmark::State& state) {
  std::vector<uint16_t> raw(kWords);
  TimeFetches(state, [&] { return VARNO_GetBuffer(kWords, raw.data()); });
  if (raw != Words()) state.SkipWithError("words changed");
}
BENCHMARK(BM_GetBuffer)->Unit(benchmark::kMicrosecond);

// `pass` over the kWords words, timed whole in each iteration.
template <class Pass>
void TimePasses(benchmark::State& state, Pass pass) {
  for (auto _ : state) {
    pass();
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}

// The library's conversion loop alone.
void BM_ConvertWords(benchmark::State& state) {
  const std::vector<uint16_t>& words = Words();
  std::vector<float> volts(kWords);
  TimePasses(state, [&] { DremorWordsToVolts(words.data(), volts.data(), kWords, kRange); });
  if (!BitExact(volts, kRange)) state.SkipWithError("not bit-exact");
}
BENCHMARK(BM_ConvertWords)->Unit(benchmark::kMicrosecond);

// The yardstick: a plain copy of the same 1,000,000 words.
void BM_CopyWords(benchmark::State& state) {
  const std::vector<uint16_t>& words = Words();
  std::vector<uint16_t> copy(kWords);
  TimePasses(state, [&] { std::memcpy(copy.data(), words.data(), kWords * sizeof(uint16_t)); });
  if (copy != words) state.SkipWithError("copy differs");
}
BENCHMARK(BM_CopyWords)->Unit(benchmark::kMicrosecond);

// A second yardstick: the same words widened into 32-bit slots, i.e. a copy
// that writes as many bytes as the conversion does.
void BM_WidenWords(benchmark::State& state) {
  const std::vector<uint16_t>& words = Words();
  std::vector<uint32_t> wide(kWords);
  TimePasses(state, [&] {
    for (uint32_t i = 0; i < kWords; ++i) wide[i] = words[i];
  });
  if (wide[kWords - 1] != words[kWords - 1]) state.SkipWithError("copy differs");
}
BENCHMARK(BM_WidenWords)->Unit(benchmark::kMicrosecond);

}  // namespace
