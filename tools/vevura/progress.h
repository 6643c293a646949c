#pragma once
// TProgress: a progress bar on standard error while it is a terminal, drawn
// over itself at most every tenth of a second and wiped when done; nothing
// at all otherwise.

#include <cstdint>
#include <ostream>
#include <string>

namespace vevura::tool {

class TProgress {
 public:
  //! A bar for total steps, drawn on err when enabled; the clock is looked
  //! at every updates_per_look updates (1 for work that reports rarely).
  TProgress(std::ostream& err, bool enabled, std::string label, int64_t total,
            int updates_per_look = 1024);
  //! Wipes the bar.
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  bool Enabled() const { return enabled_; }
  //! done steps of total are made.
  void Update(int64_t done) {
    if (enabled_ && --countdown_ <= 0) Draw(done);
  }

 private:
  void Draw(int64_t done);

  std::ostream& err_;
  bool enabled_;
  std::string label_;
  int64_t total_;
  int updates_per_look_;       //!< see the constructor
  int countdown_ = 0;          //!< updates until the clock is looked at again
  uint64_t last_draw_ms_ = 0;  //!< when the bar was drawn last
  bool drawn_ = false;
};

}  // namespace vevura::tool
