// The progress bar (progress.h).

#include "tools/vevura/progress.h"

#include <algorithm>

#include "platform/system.h"

namespace vevura::tool {
namespace {

constexpr int kBarWidth = 30;
constexpr uint64_t kDrawIntervalMs = 100;
}  // namespace

TProgress::TProgress(std::ostream& err, bool enabled, std::string label, int64_t total,
                     int updates_per_look)
    : err_(err),
      enabled_(enabled),
      label_(std::move(label)),
      total_(total),
      updates_per_look_(updates_per_look) {}

TProgress::~TProgress() {
  if (drawn_)
    err_ << "\r" << std::string(label_.size() + kBarWidth + 40, ' ') << "\r" << std::flush;
}

void TProgress::Draw(int64_t done) {
  countdown_ = updates_per_look_;
  const uint64_t now = platform::TickCountMs();
  if (drawn_ && now - last_draw_ms_ < kDrawIntervalMs) return;
  last_draw_ms_ = now;
  drawn_ = true;
  const int64_t total = std::max<int64_t>(total_, 1);
  const int64_t shown = std::clamp<int64_t>(done, 0, total);
  const int filled = static_cast<int>(shown * kBarWidth / total);
  err_ << "\r" << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
       << std::string(static_cast<size_t>(kBarWidth - filled), ' ') << "] " << shown * 100 / total
       << "% " << done << "/" << total_ << std::flush;
}

}  // namespace vevura::tool
