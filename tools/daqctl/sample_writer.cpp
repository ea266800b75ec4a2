// The self-describing sample files, written as the samples arrive.
#include "sample_writer.h"

#include <fmt/format.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "daqctl.h"
#include "sample_codes.h"

namespace daqctl {

// ---- OutputFile -------------------------------------------------------------------

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path) {
  if (path.empty()) return std::unique_ptr<OutputFile>(new OutputFile(stdout, "standard output"));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw Failure(kExitFailure, fmt::format("cannot write {}: {}", path, std::strerror(errno)));
  return std::unique_ptr<OutputFile>(new OutputFile(f, path));
}

OutputFile::~OutputFile() {
  if (file_ && file_ != stdout) std::fclose(file_);
}

void OutputFile::Fail(const char* what) const {
  const std::string reason = errno != 0 ? std::strerror(errno) : "write error";
  if (isStandardOutput()) throw Failure(kExitFailure, fmt::format("cannot write to standard output: {}", reason));
  throw Failure(kExitFailure, fmt::format("cannot {} {}: {}", what, name_, reason));
}

void OutputFile::Write(std::string_view bytes) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::ferror(file_)) Fail("write");
}

void OutputFile::Flush() {
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail("write");
}

void OutputFile::Close() {
  Flush();
  if (file_ == stdout) return;
  std::FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(f) != 0) Fail("close");
}

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms));
}

namespace {

constexpr size_t kCodes = VARNO_AD_MAX_CODE + 1;

// The text of each code's volts, made once per recording: a range has only
// 4096 values, so formatting a sample's volts is a copy.
std::vector<std::string> VoltsTexts(float fullScale, std::string (*format)(double)) {
  std::vector<std::string> texts(kCodes);
  for (size_t code = 0; code < kCodes; ++code) texts[code] = format(double(CodeToVolts(uint16_t(code), fullScale)));
  return texts;
}

// Output collected in a buffer of its own and handed to the file in large
// pieces: one stdio call per piece rather than per field.
class Chunk {
 public:
  static constexpr size_t kSize = 1 << 16;
  static constexpr size_t kLineRoom = 128;  // the longest line a writer appends at once
  Chunk() : buffer_(kSize + kLineRoom) {}
  // Room for one line: call before appending it.
  char* Reserve(OutputFile& file) {
    if (used_ > kSize) Drain(file);
    return buffer_.data() + used_;
  }
  void Commit(const char* end) { used_ = size_t(end - buffer_.data()); }
  void Append(OutputFile& file, std::string_view text) {
    if (used_ + text.size() > kSize) Drain(file);
    if (text.size() > kSize) {
      file.Write(text);
      return;
    }
    std::memcpy(buffer_.data() + used_, text.data(), text.size());
    used_ += text.size();
  }
  void Drain(OutputFile& file) {
    file.Write(std::string_view(buffer_.data(), used_));
    used_ = 0;
  }

 private:
  std::vector<char> buffer_;
  size_t used_ = 0;
};

char* Copy(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// ---- CSV --------------------------------------------------------------------------

// %.9g, as the CSV has always written volts and times (std::to_chars gives
// printf's digits, several times faster and the same on every platform).
std::string Significant9(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::general, 9).ptr);
}

std::string Plain(double v) { return fmt::format("{}", v); }

class CsvWriter final : public SampleWriter {
 public:
  CsvWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info)
      : SampleWriter(std::move(file)),
        period_(info.SamplePeriod()),
        codes_(info.codes),
        volts_(VoltsTexts(info.rangeVolts, Significant9)) {
    std::string head = fmt::format("# tool: {}\n# board: {}\n# slot: {}\n# channel: {}\n# range_code: {}\n"
                                   "# range_volts: {}\n# mode: {}\n# divisor: {}\n",
                                   info.tool, info.board, info.slot, info.channel, info.rangeCode, info.rangeVolts,
                                   info.mode, info.divisor);
    if (info.clockHz) {
      head += fmt::format("# counter_clock_hz: {}\n# sample_rate_hz: {}\n# sample_period_s: {}\n", Plain(*info.clockHz),
                          Plain(*info.clockHz / info.divisor), Plain(*period_));
    } else {
      head += "# counter_clock_hz: unknown\n# sample_rate_hz: unknown\n# sample_period_s: unknown\n";
    }
    head += fmt::format("# start_time: {}\n", info.startTime);
    head += period_ ? "index,time_s,volts" : "index,volts";
    head += codes_ ? ",code,over_range\n" : ",over_range\n";
    chunk_.Append(*file_, head);
    chunk_.Drain(*file_);
    file_->Flush();
  }

  void Write(const uint16_t* words, size_t count) override {
    for (size_t k = 0; k < count; ++k) {
      const uint16_t code = uint16_t(words[k] & VARNO_AD_CODE_MASK);
      char* out = chunk_.Reserve(*file_);
      char* const end = out + Chunk::kLineRoom;
      out = std::to_chars(out, end, samples_).ptr;
      *out++ = ',';
      if (period_) {
        out = std::to_chars(out, end, double(samples_) * *period_, std::chars_format::general, 9).ptr;
        *out++ = ',';
      }
      out = Copy(out, volts_[code]);
      if (codes_) {
        *out++ = ',';
        out = std::to_chars(out, end, code).ptr;
      }
      const bool over = OverRange(code);
      *out++ = ',';
      *out++ = over ? '1' : '0';
      *out++ = '\n';
      chunk_.Commit(out);
      overRange_ += over;
      ++samples_;
    }
    chunk_.Drain(*file_);
    file_->Flush();
  }

  void Finish(const std::string& ending) override {
    chunk_.Append(*file_, fmt::format("# over_range_count: {}\n# sample_count: {}\n# end: {}\n", overRange_,
                                      samples_, ending));
    chunk_.Drain(*file_);
    file_->Close();
  }

 private:
  std::optional<double> period_;
  bool codes_;
  std::vector<std::string> volts_;
  Chunk chunk_;
};

// ---- JSON -------------------------------------------------------------------------

// A JSON value as nlohmann-json writes it (numbers in the shortest form
// that reads back the same, strings escaped).
std::string JsonNumber(double v) { return std::isnan(v) ? "null" : nlohmann::json(v).dump(); }
template <class T>
std::string Json(const T& v) {
  return nlohmann::json(v).dump();
}
std::string JsonOrNull(const std::optional<double>& v) { return v ? JsonNumber(*v) : "null"; }

// A temporary file that holds an array's text while another array is being
// written: the document is written in one pass, its arrays one after the
// other, in memory that does not grow with the recording.
class Spool {
 public:
  Spool() : file_(Open()) {
    if (!file_) throw Failure(kExitFailure, fmt::format("cannot make a temporary file: {}", std::strerror(errno)));
  }
  ~Spool() { std::fclose(file_); }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  void Write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      throw Failure(kExitFailure, fmt::format("cannot write a temporary file: {}", std::strerror(errno)));
    }
  }
  // Copies everything written to `out`.
  void CopyTo(OutputFile& out) {
    std::rewind(file_);
    std::array<char, 1 << 16> buffer;
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file_)) > 0;) {
      out.Write(std::string_view(buffer.data(), n));
    }
    if (std::ferror(file_)) throw Failure(kExitFailure, "cannot read back a temporary file");
  }

 private:
  static std::FILE* Open() {
#if defined(_WIN32)
    // msvcrt's tmpfile() creates its file in the root of the drive, which a
    // user may not write to: the user's temporary folder instead, removed
    // when closed ("D").
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "dqc", 0, name)) return nullptr;
    return std::fopen(name, "w+bD");
#else
    return std::tmpfile();
#endif
  }
  std::FILE* file_;
};

class JsonWriter final : public SampleWriter {
 public:
  JsonWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info)
      : SampleWriter(std::move(file)), info_(info), volts_(VoltsTexts(info.rangeVolts, JsonNumber)) {
    if (info.codes) codes_.emplace();
    const std::optional<double> rate =
        info.clockHz ? std::optional<double>(*info.clockHz / info.divisor) : std::nullopt;
    chunk_.Append(*file_,
                  fmt::format("{{\n \"tool\": {},\n \"board\": {},\n \"slot\": {},\n \"channel\": {},\n"
                              " \"range_code\": {},\n \"range_volts\": {},\n \"mode\": {},\n \"divisor\": {},\n"
                              " \"counter_clock_hz\": {},\n \"sample_rate_hz\": {},\n \"sample_period_s\": {},\n"
                              " \"start_time\": {},\n \"volts\": [",
                              Json(info.tool), info.board, Json(info.slot), info.channel, info.rangeCode,
                              JsonNumber(info.rangeVolts), Json(info.mode), info.divisor, JsonOrNull(info.clockHz),
                              JsonOrNull(rate), JsonOrNull(info.SamplePeriod()), Json(info.startTime)));
    chunk_.Drain(*file_);
    file_->Flush();
  }

  void Write(const uint16_t* words, size_t count) override {
    std::string codes, over;
    for (size_t k = 0; k < count; ++k) {
      const uint16_t code = uint16_t(words[k] & VARNO_AD_CODE_MASK);
      const char* separator = samples_ == 0 ? "\n  " : ",\n  ";
      char* out = chunk_.Reserve(*file_);
      out = Copy(out, separator);
      out = Copy(out, volts_[code]);
      chunk_.Commit(out);
      if (codes_) codes += fmt::format("{}{}", separator, code);
      if (OverRange(code)) over += fmt::format("{}{}", overRange_++ == 0 ? "\n  " : ",\n  ", samples_);
      ++samples_;
    }
    if (codes_) codes_->Write(codes);
    if (!over.empty()) overSpool_.Write(over);
    chunk_.Drain(*file_);
    file_->Flush();
  }

  void Finish(const std::string& ending) override {
    chunk_.Append(*file_, samples_ ? "\n ]" : "]");
    if (codes_) {
      chunk_.Append(*file_, ",\n \"codes\": [");
      chunk_.Drain(*file_);
      codes_->CopyTo(*file_);
      chunk_.Append(*file_, samples_ ? "\n ]" : "]");
    }
    chunk_.Append(*file_, ",\n \"over_range\": [");
    chunk_.Drain(*file_);
    overSpool_.CopyTo(*file_);
    chunk_.Append(*file_, overRange_ ? "\n ]" : "]");
    const std::string title =
        fmt::format("board {}, channel {}, +-{} V, {} samples, divisor {}", info_.board, info_.channel,
                    info_.rangeVolts, samples_, info_.divisor);
    chunk_.Append(*file_, fmt::format(",\n \"over_range_count\": {},\n \"sample_count\": {},\n \"end\": {},\n"
                                      " \"title\": {}\n}}\n",
                                      overRange_, samples_, Json(ending), Json(title)));
    chunk_.Drain(*file_);
    file_->Close();
  }

 private:
  RecordingInfo info_;
  std::vector<std::string> volts_;
  std::optional<Spool> codes_;
  Spool overSpool_;
  Chunk chunk_;
};

}  // namespace

std::unique_ptr<SampleWriter> MakeCsvWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info) {
  return std::make_unique<CsvWriter>(std::move(file), info);
}

std::unique_ptr<SampleWriter> MakeJsonWriter(std::unique_ptr<OutputFile> file, const RecordingInfo& info) {
  return std::make_unique<JsonWriter>(std::move(file), info);
}

}  // namespace daqctl
