// daqctl: see which boards a machine has, switch relays, read inputs, take
// readings and acquisitions, on the simulated bench or on hardware.
//
// A command line is looked up in the table of commands below; the command's
// own file (commands/) registers its options, checks them and runs.
#include <fmt/format.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "command.h"
#include "daqctl.h"
#include "varno_boards.h"

#if defined(DAQCTL_SIM)
#include "sim_diagnostics.h"
#endif

namespace daqctl {

// The commands, in the order `daqctl --help` lists them.
extern const Command kList, kRelay, kDio, kTimer, kAi, kAcquire, kTour, kPanel;
const Command* const kCommands[] = {&kList, &kRelay, &kDio, &kTimer, &kAi, &kAcquire, &kTour, &kPanel};

namespace {

bool IsCommand(const std::string& word) {
  for (const Command* command : kCommands) {
    if (word == command->name) return true;
  }
  return false;
}

// The word of a command line that stands where the command belongs but names
// none ("lst"), or empty. Options before the command: --sim [FILE] and the
// flags; the simulated build's hidden ones take a value.
std::string UnknownCommand(const std::vector<std::string>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string& word = argv[i];
    if (word == "--sim") {
      if (i + 1 < argv.size() && argv[i + 1].rfind("-", 0) != 0 && !IsCommand(argv[i + 1])) ++i;
      continue;
    }
    if (word == "--sim-report" || word == "--sim-driver-capacity") {
      ++i;
      continue;
    }
    if (word.rfind("-", 0) == 0) continue;
    return IsCommand(word) ? std::string() : word;
  }
  return {};
}

// The interrupt driver's version for --version: the library opens the
// interrupt device of board 0 first, and keeps it whatever else fails.
std::optional<uint16_t> AskInterruptDriverVersion() {
  unsigned short count = 0;
  const uint16_t status = VARNO_DriverInit(&count);
  const std::optional<uint16_t> version =
      status == DREMOR_ERR_NO_INTERRUPT_DEVICE ? std::nullopt : VarnoSession::DriverVersion();
  VARNO_DriverClose();
  return version;
}

std::string CommandNames() {
  std::string names;
  for (const Command* command : kCommands) names += fmt::format("{}{}", names.empty() ? "" : ", ", command->name);
  return names;
}

int Report(const Failure& f) {
  std::fflush(stdout);
  fmt::print(stderr, "daqctl: {}\n", f.what());
  return f.exitCode;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& argv, MachineSetup setup) {
  CLI::App app{"daqctl: relay boards and multifunction boards, on the simulated bench or on hardware"};
  app.name(argv.empty() ? "daqctl" : argv[0]);
  app.require_subcommand(0, 1);
  MachineOptions machine;
  auto* simOpt = app.add_option("--sim", machine.scenario,
                                "run on the simulated bench: the built-in one, or the one a JSON scenario FILE "
                                "describes")
                     ->expected(0, 1)
                     ->type_name("[FILE]");
  bool version = false;
  app.add_flag("--version", version, "show the versions of daqctl, the libraries and the interrupt driver");
#if defined(DAQCTL_SIM)
  app.footer("This daqctl is the simulated build: it always runs on the bench (--sim is implied).");
  SimTestHooks hooks;
  if (setup == MachineSetup::kPrepare) AddSimTestHooks(app, hooks);
  struct ReportAtEnd {
    const SimTestHooks& hooks;
    ~ReportAtEnd() { WriteSimReport(hooks); }
  } reportAtEnd{hooks};
#endif

  struct Entry {
    const Command* command;
    CLI::App* app;
    std::unique_ptr<Handler> handler;
  };
  std::vector<Entry> entries;
  for (const Command* command : kCommands) {
    CLI::App* sub = app.add_subcommand(command->name, command->summary);
    // daqctl's own options (--sim [FILE], --version) may also follow the
    // command: `daqctl panel --sim lab.json` as well as `daqctl --sim lab.json panel`.
    sub->fallthrough();
    entries.push_back(Entry{command, sub, command->define(*sub)});
  }

  try {
    // CLI11 takes the arguments after the program name, last first.
    std::vector<std::string> args(argv.rbegin(), argv.rend());
    if (!args.empty()) args.pop_back();
    app.parse(std::move(args));
  } catch (const CLI::ParseError& e) {
    const std::string unknown = UnknownCommand(argv);
    if (!unknown.empty()) {
      fmt::print(stderr, "daqctl: unknown command '{}' (the commands: {}; daqctl --help tells more)\n", unknown,
                 CommandNames());
      return kExitUsage;
    }
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  auto prepare = [&](bool builtInBench) {
    if (setup != MachineSetup::kPrepare) return;
    machine.sim = simOpt->count() > 0;
#if defined(DAQCTL_SIM)
    machine.sim = true;
#endif
    if (builtInBench) {
      machine.sim = true;
      machine.scenario.clear();
    }
    PrepareMachine(machine);
#if defined(DAQCTL_SIM)
    ApplySimTestHooks(hooks);
#endif
  };

  try {
    if (version) {
      prepare(false);
      Print("{}\n", VersionLine(AskInterruptDriverVersion()));
      return kExitOk;
    }
    for (const Entry& entry : entries) {
      if (!*entry.app) continue;
      // Arguments are checked before anything is touched.
      entry.handler->Check();
      prepare(entry.command->builtInBench);
      return entry.handler->Run();
    }
  } catch (const Failure& f) {
    return Report(f);
  } catch (const std::exception& e) {
    return Report(Failure(kExitFailure, fmt::format("internal error: {}", e.what())));
  }
  fmt::print(stderr, "daqctl: a command is needed ({}); daqctl --help tells more\n", CommandNames());
  return kExitUsage;
}

}  // namespace daqctl

int main(int argc, char** argv) {
#if defined(SIGPIPE)
  // A closed pipe is a write error like any other: the command stops its
  // board and fails with a message instead of dying mid-acquisition.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  int status = daqctl::kExitFailure;
  try {
    status = daqctl::RunCommandLine(std::vector<std::string>(argv, argv + argc), daqctl::MachineSetup::kPrepare);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "daqctl: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "daqctl: internal error\n");
  }
  // Output that never reached standard output is a failure, whatever the
  // command thought (a command that failed has said why already).
  const std::string lost = daqctl::FinishStandardOutput();
  if (!lost.empty() && status == daqctl::kExitOk) {
    std::fprintf(stderr, "daqctl: cannot write to standard output: %s\n", lost.c_str());
    status = daqctl::kExitFailure;
  }
  return status;
}
