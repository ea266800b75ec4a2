// The shipped 32-bit DLL has two loops that convert sample words to volts: the
// SSE2 loop, taken where the processor has SSE2, and the x87 loop, taken on
// older processors. This program times both against a plain copy of the same
// words, in the same run, on 1,000,000 words, and checks that they agree bit
// for bit. It is built for the Windows target and run under Wine
// (scripts/bench.sh); Google Benchmark is not available for that target, so
// it keeps its own small timing loop: the best of 25 rounds of each.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dremor_internal.h"

namespace {

constexpr uint32_t kWords = 1000000;
constexpr int kRounds = 25;

template <class Body>
double BestNsPerWord(Body body) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, ns / kWords);
  }
  return best;
}

}  // namespace

int main() {
  std::vector<uint16_t> words(kWords), copy(kWords);
  uint32_t x = 12345;
  for (auto& w : words) {
    x = x * 1103515245u + 12345u;
    w = uint16_t(0xF000u | ((x >> 16) & 0x0FFFu));
  }
  std::vector<float> x87(kWords), sse2(kWords);
  const float step = 0.1f * VARNO_AD_STEP;  // +-0.1 V, a range that is not a power of two

  const double copyNs = BestNsPerWord([&] {
    std::memcpy(copy.data(), words.data(), kWords * sizeof(uint16_t));
    __asm__ __volatile__("" : : "r"(copy.data()) : "memory");
  });
  const double x87Ns = BestNsPerWord([&] { WordsToVoltsScalar(words.data(), x87.data(), kWords, step); });
  std::printf("%-28s %8.3f ns/word\n", "copy of the words", copyNs);
  std::printf("%-28s %8.3f ns/word  %5.2fx the copy\n", "x87 (scalar) loop", x87Ns, x87Ns / copyNs);
#if DREMOR_SSE2_LOOP
  if (!CpuHasSse2()) {
    std::printf("this processor has no SSE2: only the x87 loop runs here\n");
    return 0;
  }
  const double sse2Ns = BestNsPerWord([&] { WordsToVoltsSse2(words.data(), sse2.data(), kWords, step); });
  std::printf("%-28s %8.3f ns/word  %5.2fx the copy\n", "SSE2 loop", sse2Ns, sse2Ns / copyNs);
  if (std::memcmp(x87.data(), sse2.data(), kWords * sizeof(float)) != 0) {
    std::printf("the loops disagree\n");
    return 1;
  }
  std::printf("both loops gave the same bits for all %u words\n", kWords);
#endif
  return 0;
}
