// Running daqctl as a user runs it, for the process-level tests: a process
// with arguments, on the bench of a scenario file, and the reading of what it
// printed and wrote.
#ifndef DAQCTL_TESTS_DAQCTL_RUN_H
#define DAQCTL_TESTS_DAQCTL_RUN_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A file of this test process's own: CTest runs test cases as parallel
// processes.
inline std::string TempFile(const std::string& name) {
  return ::testing::TempDir() + "daqctl_" + std::to_string(getpid()) + "_" + name;
}

// Runs daqctl with `args`, in folder `dir` when one is given, its standard
// output to `stdoutPath` when one is given (and then not read back).
inline ToolRun Daqctl(const std::string& args, const std::string& dir = "", const std::string& stdoutPath = "") {
  const std::string out = stdoutPath.empty() ? TempFile("out") : stdoutPath, err = TempFile("err");
  const std::string cmd = (dir.empty() ? "" : "cd " + dir + " && ") + std::string(DAQCTL_PATH) + " " + args + " >" +
                          out + " 2>" + err;
  const int raw = std::system(cmd.c_str());
  return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, stdoutPath.empty() ? Slurp(out) : "", Slurp(err)};
}

inline std::string Scenario(const char* name) { return std::string(DAQCTL_SCENARIOS) + "/" + name; }
// The scenarios the tests bring along (tests/tools/scenarios/).
inline std::string TestScenario(const char* name) { return std::string(DAQCTL_TEST_SCENARIOS) + "/" + name; }

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  return fields;
}

// The lines of daqctl's CSV output between its '#' lines: the header row
// first, then one line per sample.
inline std::vector<std::string> CsvTable(const std::string& csv) {
  std::vector<std::string> table;
  for (const std::string& line : Lines(csv)) {
    if (line.rfind('#', 0) != 0) table.push_back(line);
  }
  return table;
}

// The volts column of daqctl's CSV output, with the time column checked to
// advance by `period` seconds.
inline std::vector<double> CsvVolts(const std::string& csv, double period) {
  const std::vector<std::string> table = CsvTable(csv);
  EXPECT_FALSE(table.empty()) << csv;
  if (table.empty()) return {};
  EXPECT_EQ(table[0].rfind("index,time_s,volts", 0), 0u) << table[0];
  std::vector<double> volts;
  for (size_t row = 1; row < table.size(); ++row) {
    const std::string& line = table[row];
    size_t index = 0;
    double t = 0, v = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%zu,%lf,%lf", &index, &t, &v), 3) << line;
    EXPECT_EQ(index, volts.size());
    EXPECT_NEAR(t, double(index) * period, 1e-9);
    volts.push_back(v);
  }
  return volts;
}

// The "# key: value" lines of daqctl's CSV output (the description before
// the header row and the summary after the samples).
inline std::map<std::string, std::string> CsvComments(const std::string& csv) {
  std::map<std::string, std::string> comments;
  for (const std::string& line : Lines(csv)) {
    const size_t colon = line.find(": ");
    if (line.rfind("# ", 0) == 0 && colon != std::string::npos) {
      comments[line.substr(2, colon - 2)] = line.substr(colon + 2);
    }
  }
  return comments;
}

#endif
