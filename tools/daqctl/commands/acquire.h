// acquire: what its two modes share.
#ifndef DAQCTL_COMMANDS_ACQUIRE_H
#define DAQCTL_COMMANDS_ACQUIRE_H

#include <cstdint>
#include <optional>
#include <string>

#include "acquisition_rate.h"
#include "background_fetch.h"
#include "sample_writer.h"
#include "waveform_plot.h"

namespace daqctl {

struct AcquireArgs {
  unsigned board = 0;
  unsigned channel = 0;
  unsigned range = 0;
  uint32_t divisor = 1000;
  uint64_t count = 1000;            // samples to take; 0: until stopped (--continuous)
  std::optional<double> duration;   // seconds, when given (becomes `count` once the clock is known)
  std::optional<double> clockHz;    // --clock
  AcquireMode mode = AcquireMode::kPacer;
  bool raw = false;
  bool progress = true;
};

// Where an acquisition's samples go as they arrive: the file, and the
// picture when one was asked for.
struct Recording final : SampleSink {
  Recording(SampleWriter& writer, WaveformPlot* plot, float fullScale)
      : writer(writer), plot(plot), fullScale(fullScale) {}
  SampleWriter& writer;
  WaveformPlot* plot;
  float fullScale;
  void Add(const uint16_t* words, size_t count) override {
    writer.Write(words, count);
    if (plot) plot->Add(words, count, fullScale);
  }
};

// How an acquisition ended: complete, stopped by a signal, or failed after
// some samples were recorded (the error says why, the recording keeps them).
struct AcquisitionEnd {
  int signal = 0;
  std::string error;
};

// Shows a progress line on standard error (when it is a terminal).
bool ShowProgress(const AcquireArgs& args);

// The interrupt-driven acquisition of `acquire --mode background`, on the
// selected board with its channel configured.
AcquisitionEnd AcquireBackground(const AcquireArgs& args, std::optional<double> clockHz, Recording& recording);

}  // namespace daqctl

#endif
