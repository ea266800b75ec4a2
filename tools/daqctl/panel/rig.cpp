// The rig: the panel's one thread that calls the libraries.
#include "rig.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>

#include "acquisition_rate.h"
#include "background_fetch.h"
#include "daqctl.h"
#include "fields.h"
#include "relay_boards.h"
#include "sample_writer.h"
#include "varno_boards.h"

namespace daqctl::panel {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kInputInterval = std::chrono::milliseconds(100);
// As `acquire --mode background` polls: at 125 kHz some 2500 samples a poll.
constexpr auto kFetchInterval = std::chrono::milliseconds(20);
// The state is sent to the pages at most this often, unless a request
// changed it.
constexpr auto kStateInterval = std::chrono::milliseconds(100);

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }
template <class T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// A recording's file name: a plain name ending in .csv, written in the
// record folder; a name that is taken is refused (the panel overwrites no
// file). Empty: a name from the board, channel and time.
std::filesystem::path RecordingPath(const std::string& folder, std::string name, unsigned board, unsigned channel) {
  if (name.empty()) {
    std::string stamp = UtcTimestamp();  // 2024-05-01T12:34:56.789Z
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':' || c == 'Z'; }),
                stamp.end());
    std::replace(stamp.begin(), stamp.end(), 'T', '-');
    std::replace(stamp.begin(), stamp.end(), '.', '-');
    name = fmt::format("panel-b{}-ch{}-{}.csv", board, channel, stamp);
  }
  const bool plain = name.size() <= 100 && name[0] != '.' &&
                     std::all_of(name.begin(), name.end(), [](char c) {
                       return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                              c == '_' || c == '-';
                     });
  if (!plain || name.size() < 5 || name.compare(name.size() - 4, 4, ".csv") != 0) {
    throw Failure(kExitUsage, fmt::format("file '{}': give a plain file name ending in .csv (letters, digits, '.', "
                                          "'_' and '-'); recordings go to the panel's record folder",
                                          name));
  }
  const std::filesystem::path path = std::filesystem::path(folder) / name;
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    throw Failure(kExitUsage, fmt::format("{} exists: give another file name (the panel overwrites no recording)",
                                          path.string()));
  }
  return path;
}

}  // namespace

// ---- What the rig thread holds ----------------------------------------------------

class Rig::World final : public SampleSink {
 public:
  World(const RigOptions& options, FrameHub& hub) : options_(options), hub_(hub) {}

  void Open();
  void Close(const std::string& ending);
  Clock::time_point NextTick() const;
  void Tick();
  // After a request: the state goes out at once when it changed.
  void Changed() { Publish(true); }

  json Hello() const;
  json State() const;

  json Relay(const json& request);
  json Select(const json& request);
  json Digital(const json& request);
  json Timer(const json& request);
  json Reading(const json& request);
  json StartAcquisition(const json& request);
  json StopAcquisition();
  json StartRecording(const json& request);
  json StopRecording();

  // The fetched samples (SampleSink): to the recording, then to the pages.
  void Add(const uint16_t* words, size_t count) override;

 private:
  struct RelayBoard {
    RelayBoardInfo info;
    std::string slot;
    uint16_t outputPort = 0, inputPort = 0;
    std::string error;  // why it cannot be driven
    uint16_t outputs = 0, inputs = 0;
  };
  struct VarnoBoard {
    std::string slot;
    uint16_t io = 0, dio = 0, ad = 0;
    std::optional<double> clockHz;
  };
  // What the panel knows of a counter of the selected board.
  struct Counter {
    std::optional<uint32_t> divisor;
    std::string use;  // "parked", "panel", "pacer", "settling"
  };
  struct Acquisition {
    uint64_t id = 0;
    unsigned board = 0, channel = 0, range = 0;
    float rangeVolts = 10;
    uint32_t divisor = 0;
    std::optional<double> clockHz;
    bool running = false;
    std::string error;
    uint64_t overRange = 0;
    uint32_t interrupts = 0, backlog = 0;
    std::optional<StallWatch> stall;
  };
  struct Recording {
    std::string file;
    std::unique_ptr<SampleWriter> writer;  // while it records
    uint64_t samples = 0;
    std::string error, ended;
  };

  RelayBoard& RelayBoardAt(const json& request);
  // The multifunction board the request names, which must exist.
  unsigned MultifunctionBoard(const json& request) const;
  // The same, which must be the selected one.
  unsigned ActiveBoard(const json& request);
  void RefuseWhileAcquiring(const char* what) const;
  void ReadRelayBoard(RelayBoard& board);
  void ReadInputs();
  void SelectBoard(unsigned board);
  // One fetch: the samples to the recording and the pages, the counts
  // updated; an error text, or empty.
  std::string Poll();
  void Fetch();
  void EndAcquisition(std::string error, const std::string& ending);
  void BeginRecording(const std::string& name);
  void FinishRecording(const std::string& ending);
  void Publish(bool now);

  const RigOptions& options_;
  FrameHub& hub_;
  std::optional<KorvelSession> korvel_;
  std::string korvelError_;
  std::vector<RelayBoard> relayBoards_;
  std::optional<VarnoSession> varno_;
  std::string varnoError_;
  std::vector<VarnoBoard> varnoBoards_;
  std::optional<uint16_t> driverVersion_;
  std::optional<unsigned> active_;
  std::string activeNote_;  // e.g. the selected board's interrupt driver cannot be opened
  std::optional<uint16_t> digitalOutputs_, digitalInputs_;
  std::array<Counter, VARNO_COUNTERS> counters_;
  std::optional<Acquisition> acquisition_;
  std::optional<BackgroundFetcher> fetcher_;
  uint32_t userValue_ = 0;  // handed to the interrupt driver
  std::optional<Recording> recording_;
  Clock::time_point nextInputs_, nextFetch_, lastPublish_;
  std::string published_;
};

void Rig::World::Open() {
  // The bench follows the wall clock from here on (hardware does anyway):
  // inputs change and acquisitions run while the panel waits.
  KeepTimeRunning();
  try {
    varno_.emplace();
    for (uint16_t n = 0; n < varno_->count(); ++n) {
      VarnoBoard board;
      CheckDremor(VARNO_GetConfigAddressSpace(n, &board.io, &board.dio, &board.ad), "reading the board table");
      board.slot = BoardSlot(Family::kMultifunction, n);
      board.clockHz = options_.clockHz ? options_.clockHz : CounterClockHz(n);
      varnoBoards_.push_back(board);
    }
    if (!varnoBoards_.empty()) SelectBoard(0);
  } catch (const Failure& f) {
    varnoError_ = f.what();
  }
  try {
    korvel_.emplace();
    for (uint16_t n = 0; n < korvel_->count(); ++n) {
      RelayBoard board;
      board.info = korvel_->Query(n);
      board.slot = BoardSlot(Family::kRelay, n);
      const uint16_t block = board.info.base[RELAY_BOARD_BLOCK_BAR];
      if (block == 0) {
        board.error = fmt::format("board {} has no board block (base{} reads 0): it cannot be driven", n,
                                  RELAY_BOARD_BLOCK_BAR);
      } else {
        board.outputPort = uint16_t(block + RelayOutputOffset(board.info.kind));
        board.inputPort = uint16_t(block + RelayInputOffset(board.info.kind));
      }
      relayBoards_.push_back(board);
    }
  } catch (const Failure& f) {
    korvelError_ = f.what();
  }
  ReadInputs();
  nextInputs_ = Clock::now() + kInputInterval;
  Publish(true);
}

void Rig::World::Close(const std::string& ending) {
  if (acquisition_ && acquisition_->running) EndAcquisition({}, ending);
  FinishRecording(ending);
  Publish(true);
  korvel_.reset();
  varno_.reset();
}

Clock::time_point Rig::World::NextTick() const {
  const bool fetching = acquisition_ && acquisition_->running;
  return fetching ? std::min(nextInputs_, nextFetch_) : nextInputs_;
}

void Rig::World::Tick() {
  const Clock::time_point now = Clock::now();
  if (acquisition_ && acquisition_->running && now >= nextFetch_) {
    Fetch();
    nextFetch_ = now + kFetchInterval;
  }
  if (now >= nextInputs_) {
    ReadInputs();
    nextInputs_ = now + kInputInterval;
  }
  Publish(false);
}

void Rig::World::Publish(bool now) {
  const Clock::time_point t = Clock::now();
  if (!now && t - lastPublish_ < kStateInterval) return;
  lastPublish_ = t;
  std::string state = State().dump();
  if (state == published_) return;
  published_ = std::move(state);
  hub_.PublishState(published_);
}

json Rig::World::Hello() const {
  json relay = json::array();
  for (size_t n = 0; n < relayBoards_.size(); ++n) {
    const RelayBoard& b = relayBoards_[n];
    relay.push_back({{"board", n},
                     {"model", ModelName(b.info.kind)},
                     {"slot", b.slot},
                     {"relays", RelayCount(b.info.kind)},
                     {"base", b.info.base},
                     {"output_port", b.outputPort},
                     {"input_port", b.inputPort},
                     {"error", TextOrNull(b.error)}});
  }
  json varno = json::array();
  for (size_t n = 0; n < varnoBoards_.size(); ++n) {
    const VarnoBoard& b = varnoBoards_[n];
    json board = {{"board", n},         {"model", "VARNO"},        {"slot", b.slot},
                  {"io", b.io},         {"dio", b.dio},            {"ad", b.ad},
                  {"clock_hz", OrNull(b.clockHz)}, {"smallest_divisor", nullptr}};
    if (b.clockHz) board["smallest_divisor"] = SmallestDivisor(AcquireMode::kBackground, *b.clockHz);
    varno.push_back(board);
  }
  json ranges = json::array();
  for (const InputRange& r : InputRanges()) ranges.push_back({{"code", r.code}, {"volts", r.volts}});
  return {{"tool", ToolName()},
          {"version_line", VersionLine(driverVersion_)},
          {"versions",
           {{"korvel", VersionText(PCI_GetDllVersion())},
            {"dremor", VersionText(VARNO_GetDllVersion())},
            {"interrupt_driver", driverVersion_ ? json(VersionText(*driverVersion_)) : json(nullptr)}}},
          {"record_folder", options_.recordFolder},
          {"relay", {{"error", TextOrNull(korvelError_)}, {"boards", relay}}},
          {"multifunction",
           {{"error", TextOrNull(varnoError_)},
            {"boards", varno},
            {"channels", VARNO_CHANNELS},
            {"counters", VARNO_COUNTERS},
            {"ranges", ranges},
            {"max_code", VARNO_AD_MAX_CODE},
            {"mid_scale", VARNO_AD_MID_SCALE}}},
          {"state", State()}};
}

json Rig::World::State() const {
  json relay = json::array();
  for (const RelayBoard& b : relayBoards_) relay.push_back({{"outputs", b.outputs}, {"inputs", b.inputs}});
  json counters = json::array();
  for (const Counter& c : counters_) counters.push_back({{"divisor", OrNull(c.divisor)}, {"use", c.use}});
  json state = {{"relay", relay},
                {"multifunction",
                 {{"active", OrNull(active_)},
                  {"note", TextOrNull(activeNote_)},
                  {"digital_outputs", OrNull(digitalOutputs_)},
                  {"digital_inputs", OrNull(digitalInputs_)},
                  {"counters", counters}}},
                {"acquisition", nullptr},
                {"recording", nullptr}};
  if (acquisition_) {
    const Acquisition& a = *acquisition_;
    state["acquisition"] = {{"id", a.id},
                            {"board", a.board},
                            {"channel", a.channel},
                            {"range", a.range},
                            {"range_volts", a.rangeVolts},
                            {"divisor", a.divisor},
                            {"rate_hz", a.clockHz ? json(*a.clockHz / a.divisor) : json(nullptr)},
                            {"running", a.running},
                            {"samples", fetcher_ ? fetcher_->fetched() : 0},
                            {"interrupts", a.interrupts},
                            {"backlog", a.backlog},
                            {"over_range", a.overRange},
                            {"error", TextOrNull(a.error)}};
  }
  if (recording_) {
    const Recording& r = *recording_;
    state["recording"] = {{"file", r.file},
                          {"active", r.writer != nullptr},
                          {"samples", r.samples},
                          {"error", TextOrNull(r.error)},
                          {"ended", TextOrNull(r.ended)}};
  }
  return state;
}

// ---- Relay boards ----------------------------------------------------------------

Rig::World::RelayBoard& Rig::World::RelayBoardAt(const json& request) {
  const uint32_t n = Number(request, "board");
  if (!korvel_) throw Failure(kExitFailure, korvelError_);
  if (n >= relayBoards_.size()) {
    throw Failure(kExitFailure, fmt::format("there is no relay board {} (boards found: {})", n, relayBoards_.size()));
  }
  RelayBoard& board = relayBoards_[n];
  if (!board.error.empty()) throw Failure(kExitFailure, board.error);
  return board;
}

void Rig::World::ReadRelayBoard(RelayBoard& b) {
  // The output register reads back the relay states.
  b.outputs = ReadRelayPort(b.info.kind, b.outputPort);
  b.inputs = ReadRelayPort(b.info.kind, b.inputPort);
}

json Rig::World::Relay(const json& request) {
  RelayBoard& b = RelayBoardAt(request);
  const unsigned n = unsigned(&b - relayBoards_.data());
  uint32_t pattern = 0;
  if (const std::optional<uint32_t> set = OptionalNumber(request, "set")) {
    pattern = *set;
    CheckRelayPattern(b.info, n, pattern);
  } else {
    const uint32_t relay = Number(request, "relay");
    if (relay >= RelayCount(b.info.kind)) {
      throw Failure(kExitUsage, fmt::format("relay {} does not exist: the {} board has relays 0 to {}", relay,
                                            ModelName(b.info.kind), RelayCount(b.info.kind) - 1));
    }
    const bool on = Flag(request, "on", true);
    ReadRelayBoard(b);
    pattern = on ? b.outputs | (1u << relay) : b.outputs & ~(1u << relay);
  }
  WriteRelayPort(b.info.kind, b.outputPort, pattern);
  ReadRelayBoard(b);
  return {{"board", n}, {"written", pattern}, {"outputs", b.outputs}, {"inputs", b.inputs}};
}

// ---- Multifunction boards ----------------------------------------------------------

void Rig::World::SelectBoard(unsigned n) {
  const uint16_t status = VARNO_ActiveBoard(uint16_t(n));
  // A board whose interrupt driver cannot be opened is selected all the
  // same: everything but background acquisition works.
  if (status != DREMOR_OK && status != DREMOR_ERR_NO_INTERRUPT_DEVICE) {
    throw Failure(kExitFailure, fmt::format("board {}: {}", n, DremorOpenFailureText(status, n)));
  }
  active_ = n;
  activeNote_ = status == DREMOR_OK ? "" : fmt::format("board {}: {}", n, DremorOpenFailureText(status, n));
  driverVersion_ = VarnoSession::DriverVersion();
  digitalOutputs_.reset();
  digitalInputs_.reset();
  // Selecting resets the board: its counters are parked.
  for (Counter& c : counters_) c = Counter{std::nullopt, "parked"};
}

unsigned Rig::World::MultifunctionBoard(const json& request) const {
  const uint32_t n = Number(request, "board");
  if (!varno_) throw Failure(kExitFailure, varnoError_);
  if (n >= varnoBoards_.size()) {
    throw Failure(kExitFailure,
                  fmt::format("there is no multifunction board {} (boards found: {})", n, varnoBoards_.size()));
  }
  return n;
}

unsigned Rig::World::ActiveBoard(const json& request) {
  const unsigned n = MultifunctionBoard(request);
  if (active_ != n) {
    throw Failure(kExitFailure, fmt::format("board {} is not selected: select it first (selecting resets it)", n));
  }
  return n;
}

void Rig::World::RefuseWhileAcquiring(const char* what) const {
  if (acquisition_ && acquisition_->running) {
    throw Failure(kExitFailure, fmt::format("an acquisition is running on board {}: stop it before {}",
                                            acquisition_->board, what));
  }
}

json Rig::World::Select(const json& request) {
  const unsigned n = MultifunctionBoard(request);
  RefuseWhileAcquiring("selecting a board");
  SelectBoard(n);
  ReadInputs();
  return {{"board", n}, {"note", TextOrNull(activeNote_)}};
}

json Rig::World::Digital(const json& request) {
  const unsigned n = ActiveBoard(request);
  uint32_t pattern = 0;
  if (const std::optional<uint32_t> set = OptionalNumber(request, "set")) {
    pattern = *set;
    CheckDigitalPattern(pattern, "set");
  } else {
    const uint32_t output = Number(request, "output");
    if (output >= 16) throw Failure(kExitUsage, fmt::format("output {} does not exist: the board has outputs 0 to 15", output));
    // Outputs the panel has not written read as off: the board cannot read
    // them back, and a toggle writes all 16.
    const uint32_t now = digitalOutputs_.value_or(0);
    pattern = Flag(request, "on", true) ? now | (1u << output) : now & ~(1u << output);
  }
  VARNO_Do(uint16_t(pattern));
  digitalOutputs_ = uint16_t(pattern);
  unsigned short inputs = 0;
  CheckDremor(VARNO_Di(&inputs), "reading the digital inputs");
  digitalInputs_ = inputs;
  return {{"board", n}, {"outputs", pattern}, {"inputs", inputs}};
}

json Rig::World::Timer(const json& request) {
  const unsigned n = ActiveBoard(request);
  const uint32_t counter = Number(request, "counter");
  const uint32_t divisor = Number(request, "divisor");
  CheckCounter(counter, "counter");
  CheckTimerDivisor(divisor, "divisor");
  if (counter == 0) RefuseWhileAcquiring("reprogramming counter 0, its pacer");
  VARNO_SetupTimer(uint16_t(counter), uint16_t(divisor));
  counters_[counter] = Counter{divisor, "panel"};
  json reply = {{"board", n}, {"counter", counter}, {"divisor", divisor}, {"rate_hz", nullptr}};
  if (const std::optional<double> clock = varnoBoards_[n].clockHz) {
    reply["rate_hz"] = *clock / (divisor == 0 ? 65536.0 : double(divisor));
  }
  return reply;
}

json Rig::World::Reading(const json& request) {
  const unsigned n = ActiveBoard(request);
  const uint32_t channel = Number(request, "channel");
  const uint32_t range = Number(request, "range");
  CheckChannel(channel);
  CheckRangeCode(range);
  RefuseWhileAcquiring("taking single readings");
  // As `ai` reads: the code, converted here as the library converts it.
  CheckDremor(VARNO_SetChannelConfig(uint8_t(channel), uint16_t(range)), "configuring the channel");
  counters_[2] = Counter{std::nullopt, "settling"};
  unsigned short code = 0;
  CheckDremor(VARNO_Polling(&code), "conversion");
  const float fullScale = RangeVolts(range);
  return {{"board", n},       {"channel", channel},
          {"range", range},   {"range_volts", fullScale},
          {"code", code},     {"volts", CodeToVolts(code, fullScale)},
          {"over_range", OverRange(code)}};
}

void Rig::World::ReadInputs() {
  for (RelayBoard& b : relayBoards_) {
    if (b.error.empty()) ReadRelayBoard(b);
  }
  if (varno_ && active_) {
    unsigned short inputs = 0;
    if (VARNO_Di(&inputs) == DREMOR_OK) digitalInputs_ = inputs;
  }
}

// ---- Background acquisition and recording ---------------------------------------------

json Rig::World::StartAcquisition(const json& request) {
  const unsigned n = ActiveBoard(request);
  const uint32_t channel = Number(request, "channel");
  const uint32_t range = Number(request, "range");
  const uint32_t divisor = Number(request, "divisor");
  const bool record = Flag(request, "record", false);
  CheckChannel(channel);
  CheckRangeCode(range);
  CheckPacerDivisor(divisor, "divisor");
  const std::optional<double> clock = varnoBoards_[n].clockHz;
  if (clock) CheckConverterRate(AcquireMode::kBackground, divisor, *clock, "divisor");
  RefuseWhileAcquiring("starting another");
  const std::filesystem::path file =
      record ? RecordingPath(options_.recordFolder, Text(request, "file"), n, channel) : std::filesystem::path();

  Acquisition a;
  a.id = acquisition_ ? acquisition_->id + 1 : 1;
  a.board = n;
  a.channel = channel;
  a.range = range;
  a.rangeVolts = RangeVolts(range);
  a.divisor = divisor;
  a.clockHz = clock;
  acquisition_ = a;
  fetcher_.emplace(0, *this);
  if (record) {
    BeginRecording(file.string());
  } else {
    recording_.reset();
  }
  hub_.BeginAcquisition(a.id, clock ? std::optional<double>(*clock / divisor) : std::nullopt);
  // As `acquire --mode background` starts, and fails: the recording (if
  // any) is completed with the reason.
  try {
    CheckDremor(VARNO_InstallIrq(&userValue_, 0), "installing the interrupt");
    CheckDremor(VARNO_INT_AdStart(uint8_t(channel), uint16_t(range), uint16_t(divisor)), "starting the acquisition");
  } catch (const Failure& f) {
    acquisition_->error = f.what();
    FinishRecording(fmt::format("failed: {}", f.what()));
    throw;
  }
  acquisition_->running = true;
  acquisition_->stall.emplace(divisor, clock);
  counters_[0] = Counter{divisor, "pacer"};
  counters_[2] = Counter{std::nullopt, "settling"};
  nextFetch_ = Clock::now() + kFetchInterval;
  return {{"acquisition", a.id}, {"recording", recording_ ? json(recording_->file) : json(nullptr)}};
}

void Rig::World::Add(const uint16_t* words, size_t count) {
  const uint64_t index = fetcher_->fetched();
  for (size_t k = 0; k < count; ++k) acquisition_->overRange += OverRange(uint16_t(words[k] & VARNO_AD_CODE_MASK));
  // Every sample to the file first; the pages get what they can take.
  if (recording_ && recording_->writer) {
    try {
      recording_->writer->Write(words, count);
      recording_->samples = recording_->writer->samples();
    } catch (const Failure& f) {
      recording_->error = f.what();
      recording_->ended = fmt::format("failed: {}", f.what());
      recording_->writer.reset();
    }
  }
  hub_.AddSamples(words, count, index);
}

std::string Rig::World::Poll() {
  std::string error;
  try {
    error = fetcher_->Poll();
  } catch (const Failure& f) {
    error = f.what();
  }
  acquisition_->interrupts = fetcher_->count();
  acquisition_->backlog = fetcher_->backlog();
  hub_.Flush();
  return error;
}

void Rig::World::Fetch() {
  Acquisition& a = *acquisition_;
  const std::string error = Poll();
  if (!error.empty()) {
    EndAcquisition(error, {});
    return;
  }
  // Samples stop coming: judged as `acquire` judges it.
  a.stall->Saw(a.interrupts);
  if (std::string stalled = a.stall->Stalled(); !stalled.empty()) EndAcquisition(std::move(stalled), {});
}

void Rig::World::EndAcquisition(std::string error, const std::string& ending) {
  Acquisition& a = *acquisition_;
  if (a.running) {
    a.running = false;
    const uint16_t status = VARNO_INT_AdStop();
    if (error.empty() && status != DREMOR_OK) error = fmt::format("stopping the acquisition: {}", DremorStatusText(status));
    // What the driver took before the stop is fetched too.
    if (error.empty()) error = Poll();
    counters_[0] = Counter{VARNO_PARK_COUNT, "parked"};
  }
  a.error = error;
  FinishRecording(error.empty() ? ending : fmt::format("failed: {}", error));
}

json Rig::World::StopAcquisition() {
  if (!acquisition_ || !acquisition_->running) throw Failure(kExitFailure, "no acquisition is running");
  EndAcquisition({}, "complete");
  if (!acquisition_->error.empty()) throw Failure(kExitFailure, acquisition_->error);
  return {{"acquisition", acquisition_->id}, {"samples", fetcher_->fetched()}};
}

void Rig::World::BeginRecording(const std::string& path) {
  const Acquisition& a = *acquisition_;
  Recording r;
  r.file = path;
  r.writer = MakeCsvWriter(OutputFile::Open(path),
                           DescribeRecording(a.board, a.channel, a.range, "background", a.divisor, a.clockHz));
  recording_ = std::move(r);
}

void Rig::World::FinishRecording(const std::string& ending) {
  if (!recording_ || !recording_->writer) return;
  Recording& r = *recording_;
  try {
    r.writer->Finish(ending);
    r.samples = r.writer->samples();
    r.ended = ending;
  } catch (const Failure& f) {
    r.error = f.what();
    r.ended = fmt::format("failed: {}", f.what());
  }
  r.writer.reset();
}

json Rig::World::StartRecording(const json& request) {
  if (!acquisition_ || !acquisition_->running) {
    throw Failure(kExitFailure, "no acquisition is running: start one to record it");
  }
  if (recording_ && recording_->writer) throw Failure(kExitFailure, fmt::format("already recording to {}", recording_->file));
  BeginRecording(RecordingPath(options_.recordFolder, Text(request, "file"), acquisition_->board,
                               acquisition_->channel)
                     .string());
  return {{"recording", recording_->file}};
}

json Rig::World::StopRecording() {
  if (!recording_ || !recording_->writer) throw Failure(kExitFailure, "nothing is being recorded");
  FinishRecording("complete");
  if (!recording_->error.empty()) throw Failure(kExitFailure, recording_->error);
  return {{"recording", recording_->file}, {"samples", recording_->samples}};
}

// ---- The thread -----------------------------------------------------------------

namespace {

Reply Answer(const std::function<json()>& work) {
  try {
    return Reply{200, work()};
  } catch (const Failure& f) {
    return Reply{f.exitCode == kExitUsage ? 400 : 409, {{"error", f.what()}}};
  } catch (const std::exception& e) {
    return Reply{500, {{"error", fmt::format("internal error: {}", e.what())}}};
  }
}

}  // namespace

Rig::Rig(RigOptions options, FrameHub& hub)
    : options_(std::move(options)), hub_(hub), world_(std::make_unique<World>(options_, hub_)) {}

Rig::~Rig() {
  if (thread_.joinable()) Stop("complete");
}

void Rig::Start() {
  thread_ = std::thread([this] { Loop(); });
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [&] { return started_; });
}

void Rig::Stop(const std::string& ending) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ending_ = ending;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Rig::Loop() {
  World& world = *world_;
  world.Open();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
  }
  wake_.notify_all();
  for (;;) {
    std::deque<Job> jobs;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, world.NextTick(), [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) break;
      jobs.swap(jobs_);
    }
    for (Job& job : jobs) {
      job.reply->set_value(Answer(job.work));
      world.Changed();
    }
    world.Tick();
  }
  world.Close(ending_);
  std::lock_guard<std::mutex> lock(mutex_);
  for (Job& job : jobs_) job.reply->set_value(Reply{503, {{"error", "the panel is stopping"}}});
  jobs_.clear();
}

Reply Rig::Run(std::function<json()> work) {
  auto reply = std::make_shared<std::promise<Reply>>();
  std::future<Reply> answer = reply->get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || stopping_) return Reply{503, {{"error", "the panel is stopping"}}};
    jobs_.push_back(Job{std::move(work), reply});
  }
  wake_.notify_all();
  return answer.get();
}

json Rig::Hello() {
  const Reply reply = Run([this] { return world_->Hello(); });
  return reply.body;
}

std::shared_ptr<PageStream> Rig::Subscribe(ChartView view) {
  std::shared_ptr<PageStream> page;
  // On the rig thread: no state is published between the hello and the join.
  Run([&] {
    page = hub_.Join(view, Event("hello", world_->Hello().dump()));
    return json();
  });
  return page;
}

Reply Rig::Relay(const json& request) { return Run([&] { return world_->Relay(request); }); }
Reply Rig::Select(const json& request) { return Run([&] { return world_->Select(request); }); }
Reply Rig::Digital(const json& request) { return Run([&] { return world_->Digital(request); }); }
Reply Rig::Timer(const json& request) { return Run([&] { return world_->Timer(request); }); }
Reply Rig::Reading(const json& request) { return Run([&] { return world_->Reading(request); }); }
Reply Rig::StartAcquisition(const json& request) { return Run([&] { return world_->StartAcquisition(request); }); }
Reply Rig::StopAcquisition() { return Run([&] { return world_->StopAcquisition(); }); }
Reply Rig::StartRecording(const json& request) { return Run([&] { return world_->StartRecording(request); }); }
Reply Rig::StopRecording() { return Run([&] { return world_->StopRecording(); }); }

}  // namespace daqctl::panel
