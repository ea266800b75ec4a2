// What both libraries' models are built on: one input run against the
// library loaded afresh on an empty bench.
#ifndef DAQ_TESTS_FUZZ_LIBRARY_RUN_H
#define DAQ_TESTS_FUZZ_LIBRARY_RUN_H

#include <cstddef>
#include <cstdint>

#include "daqsim/bench.h"
#include "fuzz_bench.h"
#include "fuzz_report.h"
#include "fuzz_source.h"

namespace daqfuzz {

// Run() resets the bench, loads the library (`Api`, from `file`), lets the
// model build its bench from the input and take its steps, then unloads the
// library and resets the bench again; it returns the number of library calls
// made. An input ends when its bytes do, after `maxCalls` calls, or when the
// model has no more room for it (MayGoOn).
template <class Api>
class LibraryRun {
 public:
  virtual ~LibraryRun() = default;

  size_t Run() {
    bench_.Reset();
    api_ = Api::Load(file_);
    FUZZ_CHECK(log_, api_.complete(), "cannot load %s", file_);
    BuildBench();
    BeforeSteps();
    size_t calls = 0;
    for (size_t step = 0; !in_.exhausted() && calls < maxCalls_ && MayGoOn(); ++step) {
      bench_.ClearTrace();
      if (Step(step)) ++calls;
      AfterStep();
    }
    api_ = Api{};  // unload
    bench_.Reset();
    return calls;
  }

 protected:
  LibraryRun(const uint8_t* data, size_t size, const char* file, size_t maxCalls)
      : in_(data, size), bench_(daqsim::Bench::Instance()), file_(file), maxCalls_(maxCalls) {}

  // The boards, devices and host the input asks for.
  virtual void BuildBench() = 0;
  // What the model reads from the input before its first step.
  virtual void BeforeSteps() {}
  // Whether the input may take another step (its bytes and the call budget
  // aside).
  virtual bool MayGoOn() const { return true; }
  // Step number `step` (from 0), with the trace cleared: a library call,
  // checked (true), or a change of the bench (false).
  virtual bool Step(size_t step) = 0;
  // The checks after every step.
  virtual void AfterStep() = 0;

  FuzzSource in_;
  daqsim::Bench& bench_;
  Api api_;
  CallLog log_;
  ForeignHandles foreign_;  // another program's handles on the kernel devices

 private:
  const char* file_;
  size_t maxCalls_;
};

}  // namespace daqfuzz

#endif
