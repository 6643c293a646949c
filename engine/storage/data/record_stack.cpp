#include "engine/storage/data/record_stack.h"

#include <utility>

namespace vevura {

std::unique_ptr<TRecord> TRecordStack::Pop(TRecordOwner& owner) {
  if (spares_.empty()) return std::make_unique<TRecord>(owner);
  std::unique_ptr<TRecord> record = std::move(spares_.back());
  spares_.pop_back();
  record->SetRecordSize(owner.RecordSize());
  record->InitNew(false);
  record->ClearPins();
  return record;
}

void TRecordStack::Push(std::unique_ptr<TRecord> record) {
  if (record == nullptr || spares_.size() >= kRecordPoolSize) return;
  spares_.push_back(std::move(record));
}

}  // namespace vevura
