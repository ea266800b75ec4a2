// The samples of an acquisition on their way to the pages.
#include "frames.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace daqctl::panel {

void ColumnDecimator::Add(const uint16_t* words, size_t count, uint64_t index) {
  for (size_t k = 0; k < count; ++k, ++index) {
    const uint16_t code = uint16_t(words[k] & 0x0FFF);
    if (!open_) {
      column_ = index / spc_;
      min_ = max_ = code;
      open_ = true;
    } else {
      min_ = std::min(min_, code);
      max_ = std::max(max_, code);
    }
    // The last sample of its column.
    if ((index + 1) % spc_ == 0) {
      if (done_.min.empty()) done_.first = column_;
      done_.min.push_back(min_);
      done_.max.push_back(max_);
      open_ = false;
    }
  }
}

Columns ColumnDecimator::Take() {
  Columns taken = std::move(done_);
  done_ = Columns{};
  return taken;
}

uint32_t SamplesPerColumn(const ChartView& view, std::optional<double> samplesPerSecond) {
  const double samples = samplesPerSecond ? *samplesPerSecond * view.seconds : 65536.0;
  const double spc = std::ceil(samples / std::max<uint32_t>(view.columns, 1));
  return uint32_t(std::clamp(spc, 1.0, 1e9));
}

std::string Event(const char* name, const std::string& data) { return fmt::format("event: {}\ndata: {}\n\n", name, data); }

std::optional<std::string> PageStream::Next(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return closed_ || !state_.empty() || !frames_.empty(); });
  if (closed_) return std::nullopt;
  std::string events = std::move(state_);
  state_.clear();
  for (std::string& frame : frames_) events += frame;
  frames_.clear();
  return events;
}

void PageStream::PutState(const std::string& event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = event;
  }
  changed_.notify_all();
}

void PageStream::PutFrame(const std::string& event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_.size() >= kMaxFrames) {
      ++dropped_;
      return;
    }
    frames_.push_back(event);
  }
  changed_.notify_all();
}

void PageStream::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

uint64_t PageStream::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

std::shared_ptr<PageStream> FrameHub::Join(ChartView view, const std::string& hello) {
  auto page = std::make_shared<PageStream>(view);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || pages_.size() >= kMaxPages) return nullptr;
  page->frames_.push_back(hello);
  pages_.push_back(page);
  return page;
}

void FrameHub::Leave(const std::shared_ptr<PageStream>& page) {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
}

size_t FrameHub::pages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pages_.size();
}

void FrameHub::PublishState(const std::string& json) {
  const std::string event = Event("state", json);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& page : pages_) page->PutState(event);
}

void FrameHub::BeginAcquisition(uint64_t id, std::optional<double> samplesPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  acquisition_ = id;
  rate_ = samplesPerSecond;
  for (const auto& page : pages_) page->decimator_.reset();
}

void FrameHub::AddSamples(const uint16_t* words, size_t count, uint64_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& page : pages_) {
    if (page->acquisition_ != acquisition_ || !page->decimator_) {
      page->acquisition_ = acquisition_;
      page->decimator_.emplace(SamplesPerColumn(page->view_, rate_));
    }
    page->decimator_->Add(words, count, index);
  }
}

void FrameHub::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& page : pages_) {
    if (!page->decimator_ || page->acquisition_ != acquisition_) continue;
    const Columns columns = page->decimator_->Take();
    if (columns.size() == 0) continue;
    page->PutFrame(Event("samples", fmt::format("{{\"acquisition\":{},\"spc\":{},\"column\":{},\"min\":[{}],"
                                                "\"max\":[{}],\"dropped\":{}}}",
                                                acquisition_, page->decimator_->samplesPerColumn(), columns.first,
                                                fmt::join(columns.min, ","), fmt::join(columns.max, ","),
                                                page->dropped())));
  }
}

void FrameHub::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const auto& page : pages_) page->Close();
  pages_.clear();
}

}  // namespace daqctl::panel
