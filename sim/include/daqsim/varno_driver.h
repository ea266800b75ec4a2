// Stand-in for the VARNO boards' kernel interrupt driver: one device per
// board, "\\.\VARNO0" to "\\.\VARNO3". Request codes and formats:
// dremor/varno_ioctl.h, the driver's interface, which the Dremor library and
// this stand-in share.
//
// Like the real driver it is exclusive (a second open while a handle is held
// is refused, as for a device opened with share mode 0) and buffered: a
// request fails unless its code is known and its input and output sizes are
// exactly the ones the request takes (and the buffers are there):
//
//   IOCTL_VARNO_IRQ_USER_VALUE  in 4             out 0   keeps the 4 bytes
//   IOCTL_VARNO_IRQ_RESOURCES   in 16            out 0   binds the board, arms the acquisition
//   IOCTL_VARNO_READ_SAMPLES    in 4 (count N)   out 2N  hands over the N oldest held samples
//   IOCTL_VARNO_STOP            in 0             out 0   disarms the acquisition
//   IOCTL_VARNO_GET_INT_COUNT   in 0             out 4   the interrupt count
//   IOCTL_VARNO_GET_VERSION     in 0             out 2   the stand-in's version, kVersion
//
// Binding. IRQ_RESOURCES names a board by its record (bridge base, board
// base, interrupt line, then a parameter the driver keeps but does not use).
// The driver binds the multifunction board on its bus whose BAR1 and BAR2
// bases and interrupt line are those; when there is none the request fails
// and nothing of it is taken (a board the driver cannot find cannot be
// served). A successful IRQ_RESOURCES starts a fresh acquisition: interrupt
// count, held samples, overruns and lost interrupts all back to 0, armed.
// Conversions that finished before it are not counted. A device binds one
// board at a time; a board serves one device at a time (the later binding
// wins).
//
// Acquisition. While armed, every interrupt of the bound board (see
// multifunction_board.h: pacer conversions in interrupt mode with the bridge
// interrupt on) runs the service routine, which reads AdData (the whole
// 16-bit word, bits 12-15 included), counts the interrupt and keeps the word
// at the end of a FIFO of kDefaultCapacity (1,048,576) samples. When the FIFO
// is full the word is dropped and counted in overruns(); the interrupt is
// still counted. The kernel's work happens outside the application: it takes
// no bench time and is not in the port trace. STOP disarms: no interrupt is
// counted and no sample kept until the next IRQ_RESOURCES; the count and the
// held samples stay to be fetched. Closing a handle changes nothing.
//
// Time is derived, never ticked: every request (and every query below) first
// brings the bound board up to the bench's current time, so the interrupts
// that fell due since the last request are serviced before the answer, in
// the deterministic mode as virtual time passes, in real-time mode as the
// wall clock does.
//
// READ_SAMPLES hands over the N oldest held samples and removes them. Asking
// for more than are held fails and writes nothing: no stale or uninitialised
// word is ever handed over as a sample, and the answer is immediate and
// deterministic. Applications ask GET_INT_COUNT first.
//
// Count and samples: with nothing lost, interrupt count = samples fetched +
// samples held, so (count - fetched) words can always be fetched. An overrun
// breaks the equality on purpose: count - fetched then exceeds what is held
// by overruns(), and a fetch of that many fails instead of handing over a
// stream with a silent gap. Lost interrupts (an interrupt the service routine
// never saw; fault below) are neither counted nor kept: the stream has a gap
// the count cannot show, as on a machine that misses interrupts.
//
// Faults: SetInstalled(false) (device missing), SetRefuseOpen(true) (open
// refused), FailRequest(code) / FailAllRequests() (the request fails and
// nothing of it is taken; a failing STOP leaves the acquisition armed),
// LoseInterrupts(n) (every n-th interrupt is lost). Every request received is
// kept in requests().
#ifndef DAQSIM_VARNO_DRIVER_H
#define DAQSIM_VARNO_DRIVER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "daqsim/kernel_device.h"
#include "daqsim/multifunction_board.h"

namespace daqsim {

class PciBus;

class VarnoDriver : public KernelDevice, public InterruptSink {
 public:
  // Devices the driver creates, one per board: "\\.\VARNO0" to "\\.\VARNO3".
  static constexpr unsigned kDevices = 4;
  // The version the stand-in reports: 2.05.
  static constexpr uint16_t kVersion = 0x0205;
  // Samples the FIFO holds unless set otherwise.
  static constexpr size_t kDefaultCapacity = size_t(1) << 20;

  // The device of board `board` (0-3): "\\.\VARNO<board>", exclusive. It
  // finds the board an IRQ_RESOURCES request names on `bus`, which must
  // outlive it.
  VarnoDriver(unsigned board, const PciBus& bus);
  ~VarnoDriver() override;
  static std::string DeviceName(unsigned board);
  unsigned board() const { return board_; }

  void SetVersion(uint16_t version) { version_ = version; }

  // ---- Fault injection ----
  void FailRequest(uint32_t code, bool fail = true);
  void FailAllRequests(bool fail = true) { failAll_ = fail; }
  // Every n-th interrupt from now on is lost (n = 1: all of them; 0: none).
  void LoseInterrupts(unsigned everyNth);

  // ---- What the driver received ----
  struct Request {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    bool ok;
  };
  const std::vector<Request>& requests() const { return requests_; }
  // Bounds requests() (bounded_record.h); 0: no bound.
  void SetRecordLimit(size_t limit);
  // The record of IOCTL_VARNO_IRQ_RESOURCES, decoded (little-endian u32s).
  struct IrqResources {
    uint32_t bridgeBase;
    uint32_t ioBase;
    uint32_t irq;
    uint32_t userParam;
  };
  // Last accepted IRQ_USER_VALUE and IRQ_RESOURCES inputs, if any.
  std::optional<std::array<uint8_t, 4>> userValue() const { return userValue_; }
  std::optional<std::array<uint8_t, 16>> resourcesRecord() const { return resources_; }
  std::optional<IrqResources> resources() const;
  unsigned stops() const { return stops_; }

  // ---- The acquisition (each query catches the bound board up first) ----
  MultifunctionBoard* boundBoard() const { return bound_; }
  bool armed() const { return armed_; }
  uint32_t interruptCount() { return CaughtUp().interruptCount_; }
  size_t heldSamples() { return CaughtUp().held_; }
  uint64_t overruns() { return CaughtUp().overruns_; }
  uint64_t lostInterrupts() { return CaughtUp().lost_; }
  size_t capacity() const { return capacity_; }
  // FIFO size from now on, at least 1; held samples are discarded.
  void SetCapacity(size_t samples);
  // Overrides the interrupt count (later interrupts count on from it).
  void SetInterruptCount(uint32_t count) { interruptCount_ = count; }
  // Words as if their interrupts had just been serviced, armed or not: each
  // is counted and kept (or counted as an overrun when the FIFO is full).
  // For exact words no conversion produces (bits 12-15 clear, say).
  void InjectSamples(const std::vector<uint16_t>& words);

  bool IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned) override;

  void ServiceInterrupt(MultifunctionBoard& board, const AdConversion& conversion) override;
  void Disconnected(MultifunctionBoard& board) override;

 private:
  bool Serve(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
             uint32_t* bytesReturned);
  void CatchUp();
  // This driver, caught up first: what every query looks at.
  const VarnoDriver& CaughtUp() {
    CatchUp();
    return *this;
  }
  void Keep(uint16_t word);
  void Bind(MultifunctionBoard* board);
  MultifunctionBoard* FindBoard(uint32_t bridgeBase, uint32_t ioBase, uint32_t irq) const;

  unsigned board_;
  const PciBus& bus_;
  uint16_t version_ = kVersion;
  bool failAll_ = false;
  std::set<uint32_t> failing_;
  std::vector<Request> requests_;
  size_t recordLimit_ = 0;
  std::optional<std::array<uint8_t, 4>> userValue_;
  std::optional<std::array<uint8_t, 16>> resources_;
  unsigned stops_ = 0;

  MultifunctionBoard* bound_ = nullptr;
  bool armed_ = false;
  uint32_t interruptCount_ = 0;
  uint64_t overruns_ = 0;
  uint64_t lost_ = 0;
  unsigned loseEvery_ = 0;
  uint64_t seen_ = 0;  // interrupts that reached the driver since LoseInterrupts

  // The FIFO: a ring of capacity_ words (allocated on first use), the oldest
  // at head_.
  size_t capacity_ = kDefaultCapacity;
  std::vector<uint16_t> ring_;
  size_t head_ = 0;
  size_t held_ = 0;
};

}  // namespace daqsim

#endif
