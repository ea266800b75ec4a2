// Standard output, checked: daqctl's results must reach it or the command
// fails (a full disk, a closed pipe).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daqctl.h"

namespace daqctl {

void WriteStandardOutput(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) {
    throw Failure(kExitFailure, fmt::format("cannot write to standard output: {}", std::strerror(errno)));
  }
}

std::string FinishStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return errno != 0 ? std::strerror(errno) : "write error";
  }
  return {};
}

}  // namespace daqctl
