// The samples of an acquisition on their way to the pages: decimated for
// display (the smallest and largest code of each pixel column of a chart)
// and queued per page in a bounded queue. A page that reads too slowly loses
// display frames, never samples: the recording is written on the rig thread
// before any of this, and nothing here ever waits for a page.
#ifndef DAQCTL_PANEL_FRAMES_H
#define DAQCTL_PANEL_FRAMES_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace daqctl::panel {

// Completed columns, numbered from the acquisition's first sample: column c
// holds samples c x spc to (c + 1) x spc - 1.
struct Columns {
  uint64_t first = 0;
  std::vector<uint16_t> min, max;  // 12-bit codes
  size_t size() const { return min.size(); }
};

// Min/max per column of `samplesPerColumn` samples.
class ColumnDecimator {
 public:
  explicit ColumnDecimator(uint32_t samplesPerColumn) : spc_(samplesPerColumn ? samplesPerColumn : 1) {}
  uint32_t samplesPerColumn() const { return spc_; }
  // Samples `index`, `index` + 1, ... (the board's words), each call
  // continuing where the last one ended: one decimator sees one unbroken
  // stream (the first column may be partial, when it starts mid-way).
  void Add(const uint16_t* words, size_t count, uint64_t index);
  // The columns completed since the last call.
  Columns Take();

 private:
  uint32_t spc_;
  Columns done_;
  bool open_ = false;  // a column in progress
  uint64_t column_ = 0;  // the column in progress
  uint16_t min_ = 0, max_ = 0;
};

// How a page draws: the columns of its chart and the seconds they span.
struct ChartView {
  uint32_t columns = 1000;
  double seconds = 5;
};

// Samples per column for a view at `samplesPerSecond` (unknown: the chart
// spans 65536 samples).
uint32_t SamplesPerColumn(const ChartView& view, std::optional<double> samplesPerSecond);

// One page's stream of server-sent events.
class PageStream {
 public:
  static constexpr size_t kMaxFrames = 32;
  explicit PageStream(ChartView view) : view_(view) {}

  // (Handler thread.) The events to send, waiting up to `wait` for some: an
  // empty text when nothing came, nullopt once the stream is closed.
  std::optional<std::string> Next(std::chrono::milliseconds wait);

  // (Rig thread.) The latest state replaces one not yet sent; a frame is
  // queued, or dropped when kMaxFrames wait already.
  void PutState(const std::string& event);
  void PutFrame(const std::string& event);
  void Close();
  uint64_t dropped() const;
  const ChartView& view() const { return view_; }

 private:
  friend class FrameHub;
  const ChartView view_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string state_;
  std::deque<std::string> frames_;
  uint64_t dropped_ = 0;
  bool closed_ = false;
  // The rig thread's: the acquisition this page decimates and how.
  uint64_t acquisition_ = 0;
  std::optional<ColumnDecimator> decimator_;
};

// The pages connected, fed by the rig thread.
class FrameHub {
 public:
  static constexpr size_t kMaxPages = 4;
  // A new page's stream, starting with `hello`; nullptr when kMaxPages are
  // connected already.
  std::shared_ptr<PageStream> Join(ChartView view, const std::string& hello);
  void Leave(const std::shared_ptr<PageStream>& page);
  size_t pages() const;

  // (Rig thread.) A state event for every page.
  void PublishState(const std::string& json);
  // (Rig thread.) Acquisition `id` begins: samples are numbered from 0.
  void BeginAcquisition(uint64_t id, std::optional<double> samplesPerSecond);
  // (Rig thread.) Samples of the running acquisition.
  void AddSamples(const uint16_t* words, size_t count, uint64_t index);
  // (Rig thread.) The columns each page has completed, as one frame each.
  void Flush();
  // Ends every stream; later joins are refused.
  void Close();

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<PageStream>> pages_;
  bool closed_ = false;
  uint64_t acquisition_ = 0;
  std::optional<double> rate_;
};

// One server-sent event: "event: NAME\ndata: DATA\n\n".
std::string Event(const char* name, const std::string& data);

}  // namespace daqctl::panel

#endif
