// The seeded loop of a fuzz target: inputs of random bytes from a seeded
// generator, run one after the other until a budget of library calls or of
// seconds is spent. Builds with any compiler; the build names the target's
// core in DAQ_FUZZ_ENTRY.
//
//   fuzz_X [--seed N] [--calls N] [--seconds S] [--max-len N] [--only I] [--stats]
//          [--write DIR]   keeps every input in DIR (how the seed corpus was made)
//   fuzz_X FILE...        replays inputs saved by a failing run (or libFuzzer's)
//
// When an input breaks a rule the process aborts; the handler first saves the
// input as fuzz-input-SEED-I.bin and prints how to run it alone.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_report.h"
#include "fuzz_targets.h"

namespace {

// splitmix64: a small generator with a good spread from any seed.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Input `index` of the run with `seed`: its length, then its bytes.
std::vector<uint8_t> MakeInput(uint64_t seed, uint64_t index, size_t maxLen) {
  uint64_t state = Mix(seed * 0x100000001B3ull ^ Mix(index));
  const size_t len = size_t(Mix(state) % (maxLen + 1));
  std::vector<uint8_t> bytes(len);
  for (size_t i = 0; i < len; i += 8) {
    state = Mix(state);
    for (size_t k = 0; k < 8 && i + k < len; ++k) bytes[i + k] = uint8_t(state >> (8 * k));
  }
  return bytes;
}

// The input running now, for the abort handler.
const std::vector<uint8_t>* g_current = nullptr;
uint64_t g_seed = 0, g_index = 0;
const char* g_program = "";

extern "C" void SaveCurrentInput(int sig) {
  if (g_current) {
    char name[96];
    std::snprintf(name, sizeof name, "fuzz-input-%llu-%llu.bin", (unsigned long long)g_seed,
                  (unsigned long long)g_index);
    if (FILE* f = std::fopen(name, "wb")) {
      std::fwrite(g_current->data(), 1, g_current->size(), f);
      std::fclose(f);
    }
    std::fprintf(stderr, "==== input %llu of seed %llu (%zu bytes) saved as %s; alone: %s --seed %llu --only %llu\n",
                 (unsigned long long)g_index, (unsigned long long)g_seed, g_current->size(), name, g_program,
                 (unsigned long long)g_seed, (unsigned long long)g_index);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

int Replay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    if (!f) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t calls = DAQ_FUZZ_ENTRY(bytes.data(), bytes.size());
    std::printf("%s: %zu calls, no rule broken\n", argv[i], calls);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_program = argv[0];
  uint64_t seed = 1, calls = 20000, only = UINT64_MAX;
  double seconds = 0;
  size_t maxLen = 1024;
  std::string writeTo;  // a folder to keep every input in (a seed corpus)
  std::vector<char*> files{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--seed" && value) {
      seed = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--calls" && value) {
      calls = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--seconds" && value) {
      seconds = std::strtod(argv[++i], nullptr);
      calls = UINT64_MAX;
    } else if (a == "--max-len" && value) {
      maxLen = size_t(std::strtoull(argv[++i], nullptr, 0));
    } else if (a == "--write" && value) {
      writeTo = argv[++i];
    } else if (a == "--stats") {
      daqfuzz::Stats::on() = true;
    } else if (a == "--only" && value) {
      only = std::strtoull(argv[++i], nullptr, 0);
    } else if (a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: %s [--seed N] [--calls N] [--seconds S] [--max-len N] [--only I] [--stats] [--write DIR] | FILE...\n",
                   argv[0]);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() > 1) return Replay(int(files.size()), files.data());

  std::signal(SIGABRT, SaveCurrentInput);
  std::signal(SIGSEGV, SaveCurrentInput);
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  uint64_t done = 0, inputs = 0;
  g_seed = seed;
  for (uint64_t index = only == UINT64_MAX ? 0 : only;; ++index) {
    const std::vector<uint8_t> bytes = MakeInput(seed, index, maxLen);
    g_current = &bytes;
    g_index = index;
    if (!writeTo.empty()) {
      std::ofstream(writeTo + "/seed" + std::to_string(seed) + "-" + std::to_string(index), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    done += DAQ_FUZZ_ENTRY(bytes.data(), bytes.size());
    ++inputs;
    g_current = nullptr;
    if (only != UINT64_MAX || done >= calls || (seconds > 0 && elapsed() >= seconds)) break;
  }
  for (const auto& [what, n] : daqfuzz::Stats::counts()) std::printf("  %-48s %llu\n", what.c_str(), (unsigned long long)n);
  std::printf("seed %llu: %llu inputs, %llu calls in %.1f s, no rule broken\n", (unsigned long long)seed,
              (unsigned long long)inputs, (unsigned long long)done, elapsed());
  return 0;
}
