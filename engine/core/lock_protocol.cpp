#include "engine/core/lock_protocol.h"

#include "platform/system.h"

namespace vevura {

bool BoundedLockAttempt(const std::function<bool()>& try_lock, const TBoundedLockTiming& timing) {
  uint32_t failures = 0;
  for (;;) {
    if (try_lock()) return true;
    if (++failures >= timing.Attempts) return false;
    platform::SleepMs(timing.SleepMs);
  }
}

uint16_t DrawReadSlot() {
  uint32_t slot = platform::Random(uint32_t{kMaxReadSlot} + 1);
  return slot == 0 ? 1 : static_cast<uint16_t>(slot);
}

bool LockRecordByte(TFileHandler& data_file, bool lock, int32_t record_number) {
  return data_file.LockRegion(lock, RecordLockOffset(record_number), 1);
}

bool LockTransactionByte(TFileHandler& data_file, bool lock) {
  return data_file.LockRegion(lock, kTransactionLockOffset, 1);
}

bool LockWriteRegion(TFileHandler& file, bool lock) {
  return file.LockRegion(lock, kWriteRegionOffset, kWriteRegionLength);
}

bool LockReadSlot(TFileHandler& file, bool lock, uint16_t slot) {
  return file.LockRegion(lock, ReadSlotOffset(slot), 1);
}

bool TakeReadSlot(TFileHandler& file, const TBoundedLockTiming& timing, uint16_t* slot) {
  *slot = 0;
  uint16_t drawn = 0;
  bool taken = BoundedLockAttempt(
      [&] {
        drawn = DrawReadSlot();
        return LockReadSlot(file, true, drawn);
      },
      timing);
  if (taken) *slot = drawn;
  return taken;
}

}  // namespace vevura
