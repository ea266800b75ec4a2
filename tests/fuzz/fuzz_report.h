// What a fuzz input did, and how a broken invariant is reported: the calls
// of the input so far, then the broken rule, then abort() (which libFuzzer
// and the seeded loop both report as a crash with the input that caused it).
#ifndef DAQ_TESTS_FUZZ_FUZZ_REPORT_H
#define DAQ_TESTS_FUZZ_FUZZ_REPORT_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace daqfuzz {

class CallLog {
 public:
  // One line of the log, printf style.
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    lines_.emplace_back(line);
  }
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& lines() const { return lines_; }

  // Prints the log and the broken rule, and aborts.
  [[noreturn]] void Fail(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
    std::fprintf(stderr, "\n==== fuzz model: the input's bench and calls ====\n");
    for (const std::string& line : lines_) std::fprintf(stderr, "  %s\n", line.c_str());
    char what[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    std::fprintf(stderr, "==== broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
  }

 private:
  std::vector<std::string> lines_;
};

// How often each outcome of each call came up, for --stats: what a run
// covered.
class Stats {
 public:
  static void Count(const std::string& what) {
    if (on()) ++counts()[what];
  }
  static bool& on() {
    static bool enabled = false;
    return enabled;
  }
  static std::map<std::string, uint64_t>& counts() {
    static std::map<std::string, uint64_t> c;
    return c;
  }
};

// Checks a rule; on failure reports through `log` and aborts.
#define FUZZ_CHECK(log, cond, ...)   \
  do {                               \
    if (!(cond)) (log).Fail(__VA_ARGS__); \
  } while (0)

}  // namespace daqfuzz

#endif
