// daqctl's commands as a table. Each command lives in a file of its own under
// commands/ and defines one Command: its name, its one-line summary and the
// function that registers its options and returns the Handler they fill in.
// main.cpp holds the table and runs a command line through it; a new command
// is a new file and one entry there.
#ifndef DAQCTL_COMMAND_H
#define DAQCTL_COMMAND_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace daqctl {

// One run of a command. The parser fills in the options the command
// registered; Check() then judges them before anything is touched (throwing
// Failure(kExitUsage)), and Run() does the work on the prepared machine and
// returns the exit status.
class Handler {
 public:
  virtual ~Handler() = default;
  virtual void Check() {}
  virtual int Run() = 0;
};

struct Command {
  const char* name;
  const char* summary;
  // Registers the command's options on its subcommand `app`.
  std::unique_ptr<Handler> (*define)(CLI::App& app);
  // The command always runs on the built-in bench, whatever --sim says.
  bool builtInBench;
};

// Whether running a command line sets up the machine first (a user's command
// line) or runs on the machine as it stands (the tour's steps, one after the
// other on the same bench).
enum class MachineSetup { kPrepare, kAsItStands };

// Parses argv (argv[0] is the program name), checks the arguments and runs the
// command. Every failure is reported on standard error; returns the exit
// status.
int RunCommandLine(const std::vector<std::string>& argv, MachineSetup setup);

// An option that takes a number in decimal, 0x-hex or 0b-binary notation
// (ParseWholeNumber). The parser keeps the text; Get() (called from Check())
// converts it, and a bad number is a usage error naming the option.
class NumberOption {
 public:
  // `names` as CLI11 takes them ("--set,-s"); messages name the first.
  CLI::Option* Add(CLI::App& app, const std::string& names, const std::string& help);
  std::optional<uint32_t> Get() const;  // nullopt when the option was not given
  bool given() const { return !text_.empty(); }

 private:
  std::string name_;
  std::string text_;
};

// For the options CLI11 converts itself (unsigned integers): the same
// notation as NumberOption, the text rewritten in decimal before CLI11 reads
// it, so that its own conversion never sees a leading zero (octal to it).
CLI::Option* AcceptNumbers(CLI::Option* option);

}  // namespace daqctl

#endif
