// daqctl: see which boards a machine has, switch relays, read inputs, take
// readings and acquisitions, on the simulated bench or on hardware.
//
// A command line is looked up in the table of commands below; the command's
// own file (commands/) registers its options, checks them and runs.
#include <fmt/format.h>

#include <cstdio>

#include "command.h"
#include "daqctl.h"

namespace daqctl {

// The commands, in the order `daqctl --help` lists them.
extern const Command kList, kRelay, kDio, kTimer, kAi, kAcquire, kTour;
const Command* const kCommands[] = {&kList, &kRelay, &kDio, &kTimer, &kAi, &kAcquire, &kTour};

int RunCommandLine(const std::vector<std::string>& argv, MachineSetup setup) {
  CLI::App app{"daqctl: relay boards and multifunction boards, on the simulated bench or on hardware"};
  app.name(argv.empty() ? "daqctl" : argv[0]);
  app.require_subcommand(1);
  MachineOptions machine;
  auto* simOpt = app.add_option("--sim", machine.scenario,
                                "run on the simulated bench: the built-in one, or the one a JSON scenario FILE "
                                "describes")
                     ->expected(0, 1)
                     ->type_name("[FILE]");
#if defined(DAQCTL_SIM)
  app.footer("This daqctl is the simulated build: it always runs on the bench (--sim is implied).");
#endif

  struct Entry {
    const Command* command;
    CLI::App* app;
    std::unique_ptr<Handler> handler;
  };
  std::vector<Entry> entries;
  for (const Command* command : kCommands) {
    CLI::App* sub = app.add_subcommand(command->name, command->summary);
    entries.push_back(Entry{command, sub, command->define(*sub)});
  }

  try {
    // CLI11 takes the arguments after the program name, last first.
    std::vector<std::string> args(argv.rbegin(), argv.rend());
    if (!args.empty()) args.pop_back();
    app.parse(std::move(args));
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  for (const Entry& entry : entries) {
    if (!*entry.app) continue;
    try {
      // Arguments are checked before anything is touched.
      entry.handler->Check();
      if (setup == MachineSetup::kPrepare) {
        machine.sim = simOpt->count() > 0;
#if defined(DAQCTL_SIM)
        machine.sim = true;
#endif
        if (entry.command->builtInBench) {
          machine.sim = true;
          machine.scenario.clear();
        }
        PrepareMachine(machine);
      }
      return entry.handler->Run();
    } catch (const Failure& f) {
      std::fflush(stdout);
      fmt::print(stderr, "daqctl: {}\n", f.what());
      return f.exitCode;
    }
  }
  return kExitUsage;
}

}  // namespace daqctl

int main(int argc, char** argv) {
  return daqctl::RunCommandLine(std::vector<std::string>(argv, argv + argc), daqctl::MachineSetup::kPrepare);
}
