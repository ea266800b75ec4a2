// Stand-in for the VARNO boards' kernel interrupt driver: one device per
// board, "\\.\VARNO0" to "\\.\VARNO3". Request codes and formats:
// dremor/varno_board_map.h.
//
// Like the real driver it is exclusive (a second open while a handle is held
// is refused, as for a device opened with share mode 0) and buffered: a
// request fails unless its code is known and its input and output sizes are
// exactly the ones the request takes (and the buffers are there):
//
//   IOCTL_VARNO_IRQ_USER_VALUE  in 4             out 0   keeps the 4 bytes
//   IOCTL_VARNO_IRQ_RESOURCES   in 16            out 0   keeps the 16-byte record
//   IOCTL_VARNO_READ_SAMPLES    in 4 (count N)   out 2N  hands over the N oldest held samples
//   IOCTL_VARNO_STOP            in 0             out 0   counts the stops
//   IOCTL_VARNO_GET_INT_COUNT   in 0             out 4   the interrupt count (settable)
//   IOCTL_VARNO_GET_VERSION     in 0             out 2   the stand-in's version, kVersion
//
// It does not acquire yet: samples are what the bench queued with
// QueueSamples(), and READ_SAMPLES for more samples than are held fails
// without writing a word (the real driver's answer to that is its own
// matter; a stand-in never hands back words it does not have).
//
// Faults: SetInstalled(false) (device missing), SetRefuseOpen(true) (open
// refused), FailRequest(code) / FailAllRequests() (the request fails and
// nothing of it is taken). Every request received is kept in requests().
#ifndef DAQSIM_VARNO_DRIVER_H
#define DAQSIM_VARNO_DRIVER_H

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "daqsim/kernel_device.h"

namespace daqsim {

class VarnoDriver : public KernelDevice {
 public:
  // The version the stand-in reports: 2.05.
  static constexpr uint16_t kVersion = 0x0205;

  // The device of board `board` (0-3): "\\.\VARNO<board>", exclusive.
  explicit VarnoDriver(unsigned board);
  static std::string DeviceName(unsigned board);
  unsigned board() const { return board_; }

  void SetVersion(uint16_t version) { version_ = version; }

  // ---- Fault injection ----
  void FailRequest(uint32_t code, bool fail = true);
  void FailAllRequests(bool fail = true) { failAll_ = fail; }

  // ---- What the driver received ----
  struct Request {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    bool ok;
  };
  const std::vector<Request>& requests() const { return requests_; }
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

  // ---- What it answers ----
  void SetInterruptCount(uint32_t count) { interruptCount_ = count; }
  void QueueSamples(const std::vector<uint16_t>& samples);
  size_t heldSamples() const { return samples_.size(); }

  bool IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned) override;

 private:
  bool Serve(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
             uint32_t* bytesReturned);

  unsigned board_;
  uint16_t version_ = kVersion;
  bool failAll_ = false;
  std::set<uint32_t> failing_;
  std::vector<Request> requests_;
  std::optional<std::array<uint8_t, 4>> userValue_;
  std::optional<std::array<uint8_t, 16>> resources_;
  unsigned stops_ = 0;
  uint32_t interruptCount_ = 0;
  std::deque<uint16_t> samples_;
};

}  // namespace daqsim

#endif
