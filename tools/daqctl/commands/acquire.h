// acquire: what its two modes share.
#ifndef DAQCTL_COMMANDS_ACQUIRE_H
#define DAQCTL_COMMANDS_ACQUIRE_H

#include <cstdint>
#include <optional>
#include <string>

#include "daqctl.h"

namespace daqctl {

struct AcquireArgs {
  unsigned board = 0;
  unsigned channel = 0;
  unsigned range = 0;
  uint32_t divisor = 1000;
  uint32_t count = 1000;
  std::string mode = "pacer";   // pacer | background (interrupt-driven)
  std::string format = "csv";   // csv | json
  std::string output;           // file; empty: standard output
  std::string plot;             // SVG file; empty: none
  std::optional<double> clockHz;
  bool raw = false;
  bool progress = true;
};

// Appends raw sample words to `s`, each with its value in volts.
void AppendRawSamples(Series& s, const uint16_t* words, size_t count, unsigned range);

// The interrupt-driven acquisition of `acquire --mode background`.
Series AcquireBackground(const AcquireArgs& args, std::optional<double> clockHz);

}  // namespace daqctl

#endif
