// Counts and walks a 10-million-record bitmap with sparse (1 in 1000 set) and
// dense (all but 1 in 1000 set) patterns and prints the time per operation.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "engine/expr/records_bitmap.h"

namespace {

using vevura::TRecordsBitmap;
using Clock = std::chrono::steady_clock;

constexpr int32_t kRecords = 10000000;
constexpr int32_t kPatternStep = 1000;

// Runs operation repeats times; returns nanoseconds per run. The operation's
// result is summed into sink so that the work cannot be optimised away.
double TimePerRun(int repeats, const std::function<int64_t()>& operation, int64_t& sink) {
  const auto start = Clock::now();
  for (int i = 0; i < repeats; ++i) sink += operation();
  const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
  return elapsed.count() / repeats;
}

void FillSparse(TRecordsBitmap& bitmap) {
  bitmap.ClearAll();
  for (int32_t record = 1; record <= kRecords; record += kPatternStep) bitmap.Set(record);
}

void FillDense(TRecordsBitmap& bitmap) {
  bitmap.SetAll();
  for (int32_t record = 1; record <= kRecords; record += kPatternStep) bitmap.Clear(record);
}

int64_t WalkAll(const TRecordsBitmap& bitmap) {
  int32_t position = 0, running = 0;
  int64_t found = 0;
  while (bitmap.FindNext(position, 1, running)) ++found;
  return found;
}

int64_t JumpToMiddle(const TRecordsBitmap& bitmap) {
  int32_t position = 0, running = 0;
  bitmap.FindNext(position, bitmap.Count() / 2, running);
  return position;
}

void Measure(const char* pattern, const TRecordsBitmap& bitmap) {
  int64_t sink = 0;
  const int32_t set = bitmap.Count();
  const double count_ns = TimePerRun(
      20, [&] { return bitmap.Count(); }, sink);
  const double before_ns = TimePerRun(
      20, [&] { return bitmap.CountBefore(kRecords / 2 + 17); }, sink);
  const double walk_ns = TimePerRun(
      3, [&] { return WalkAll(bitmap); }, sink);
  const double jump_ns = TimePerRun(
      20, [&] { return JumpToMiddle(bitmap); }, sink);
  std::printf("%-7s %9d set  count %8.3f ms  count before (middle) %8.3f ms\n", pattern, set,
              count_ns / 1e6, before_ns / 1e6);
  std::printf("        walk (find next, k=1): %8.3f ms total, %6.1f ns per record found\n",
              walk_ns / 1e6, walk_ns / set);
  std::printf("        find next (k = half the set records): %8.3f ms\n", jump_ns / 1e6);
  std::printf("        (checksum %lld)\n", static_cast<long long>(sink));
}

}  // namespace

int main() {
  TRecordsBitmap bitmap;
  bitmap.SetSize(kRecords);
  std::printf("record bitmap of %d records\n", kRecords);
  FillSparse(bitmap);
  Measure("sparse", bitmap);
  FillDense(bitmap);
  Measure("dense", bitmap);
  return 0;
}
