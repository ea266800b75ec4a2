// Samples of the multifunction board written as they arrive: a CSV or JSON
// document that describes itself (board, channel, range, rate, start time,
// tool), written in blocks to a file or standard output, in bounded memory,
// and always completed: after Finish() the CSV ends on a whole line and the
// JSON document is closed, whether the recording ended normally or not.
//
// The writers take the board's 16-bit sample words (bits 0-11 the code) and
// convert them to volts as the library does, so that a recording made
// anywhere (an acquisition, a panel) reads the same.
#ifndef DAQCTL_SAMPLE_WRITER_H
#define DAQCTL_SAMPLE_WRITER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace daqctl {

// A file written through stdio with every write checked: a failed write or
// close throws Failure(kExitFailure) naming the file and the reason.
class OutputFile {
 public:
  // `path` empty: standard output (left open at the end; main flushes it).
  static std::unique_ptr<OutputFile> Open(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(std::string_view bytes);
  // Hands what stdio holds to the system, so readers see it.
  void Flush();
  // Flushes and closes; a failure throws. The destructor closes unchecked.
  void Close();
  // "wave.csv", or "standard output".
  const std::string& name() const { return name_; }
  bool isStandardOutput() const { return file_ == stdout; }

 private:
  OutputFile(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
  [[noreturn]] void Fail(const char* what) const;
  std::FILE* file_;
  std::string name_;
};

// What a recording says about itself.
struct RecordingInfo {
  std::string tool;            // ToolName()
  unsigned board = 0;
  std::string slot;            // "1:02", or "-" when the machine cannot tell
  unsigned channel = 0;
  unsigned rangeCode = 0;
  float rangeVolts = 10;       // full scale of the range
  std::string mode;            // "pacer" or "background"
  uint32_t divisor = 0;        // pacer divisor
  std::optional<double> clockHz;  // counter clock, when known
  std::string startTime;       // ISO 8601, UTC
  bool codes = false;          // write each sample's 12-bit code too

  // Seconds between samples, when the clock is known.
  std::optional<double> SamplePeriod() const {
    if (!clockHz) return std::nullopt;
    return double(divisor) / *clockHz;
  }
};

// The present time as RecordingInfo::startTime takes it:
// "2024-05-01T12:34:56.789Z".
std::string UtcTimestamp();

class SampleWriter {
 public:
  virtual ~SampleWriter() = default;
  // Appends `count` samples (the board's words) and hands them to the file.
  virtual void Write(const uint16_t* words, size_t count) = 0;
  // Completes the document with how the recording ended ("complete",
  // "interrupted by SIGINT", ...) and closes the file. Throws on a write
  // failure. Without Finish() the document is left as written so far.
  virtual void Finish(const std::string& ending) = 0;

  uint64_t samples() const { return samples_; }
  uint64_t overRange() const { return overRange_; }
  const std::string& fileName() const { return file_->name(); }

 protected:
  explicit SampleWriter(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}
  std::unique_ptr<OutputFile> file_;
  uint64_t samples_ = 0;
  uint64_t overRange_ = 0;
};

// CSV: '#' lines with the recording's description, one header row
// ("index,time_s,volts[,code],over_range"; no time_s column when the clock
// is unknown), a line per sample, and '#' lines at the end with the count
// and how the recording ended.
std::unique_ptr<SampleWriter> MakeCsvWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info);
// JSON: one object with the description, "volts" (and "codes"), the
// indices of the samples over range, the count and how it ended.
std::unique_ptr<SampleWriter> MakeJsonWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info);

}  // namespace daqctl

#endif
