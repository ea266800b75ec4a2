// A soak run of both libraries on the bench: many driver-init / select /
// close cycles per library, with the process's handles, descriptors and
// resident memory reported as it goes, so that a leak shows as growth.
// Not a test: it takes minutes, and its numbers are read by people.
//
//   daq_soak [cycles] [record-limit]
//     cycles        per library (default 100000)
//     record-limit  the bench's bound on its records (default 4096; 0: none,
//                   to see the records grow)
//
// The bench runs deterministic, the built-in bench with its trace off: the
// 100 ms pause of VARNO_ActiveBoard then costs bench time, not wall time.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "daqsim/bench.h"
#include "daqsim/scenario.h"
#include "dremor.h"
#include "korvel.h"

namespace {

// Descriptors open in this process.
unsigned Descriptors() {
  unsigned n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
    n -= 3;  // ".", ".." and the listing's own
  }
  return n;
}

// Resident memory in KiB.
unsigned long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  unsigned long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (unsigned long)sysconf(_SC_PAGESIZE) / 1024;
}

void Report(const char* library, unsigned long cycle, double seconds) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  auto held = bench.Hold();
  std::printf("%-7s %8lu cycles %7.1f s  handles %u  descriptors %u  resident %6lu KiB  heap blocks %llu  "
              "records: opens %zu requests %zu varno0 %zu faults %zu\n",
              library, cycle, seconds, bench.OpenHandleCount(), Descriptors(), ResidentKiB(),
              (unsigned long long)bench.heap().outstanding(), bench.opens().size(), bench.ioControls().size(),
              bench.VarnoDevice(0) ? bench.VarnoDevice(0)->requests().size() : size_t(0), bench.faults().size());
  std::fflush(stdout);
}

// Runs `cycle` `cycles` times, reporting ten times along the way. False when
// a cycle failed.
template <class Cycle>
bool Soak(const char* library, unsigned long cycles, Cycle cycle) {
  const auto start = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  Report(library, 0, 0);
  for (unsigned long i = 1; i <= cycles; ++i) {
    if (!cycle()) {
      std::printf("%s: cycle %lu failed\n", library, i);
      return false;
    }
    if (i % (cycles / 10 ? cycles / 10 : 1) == 0) Report(library, i, seconds());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long cycles = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 100000;
  const unsigned long limit = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 4096;
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  daqsim::BuildBuiltInBench(bench);
  bench.SetTraceEnabled(false);
  bench.SetRecordLimit(limit);
  std::printf("%lu cycles per library, records bounded to %lu\n", cycles, limit);

  const bool korvel = Soak("Korvel", cycles, [] {
    unsigned short count = 0;
    const bool ok = PCI_DriverInit(&count) == KORVEL_OK && count == 2 && PCI_ActiveBoard(1) == KORVEL_OK;
    return PCI_DriverClose() != 0 && ok;
  });
  const bool dremor = Soak("Dremor", cycles, [] {
    unsigned short count = 0;
    const bool ok = VARNO_DriverInit(&count) == DREMOR_OK && count == 2 && VARNO_ActiveBoard(1) == DREMOR_OK;
    VARNO_DriverClose();
    return ok;
  });
  std::printf("bench: %llu port accesses, %u sleeps, %llu faults, %u bad closes\n",
              (unsigned long long)bench.portAccessCount(), bench.sleepCalls(),
              (unsigned long long)bench.faultCount(), bench.badCloses());
  return korvel && dremor && bench.faultCount() == 0 && bench.badCloses() == 0 ? 0 : 1;
}
