#include "engine/expr/records_bitmap_stack.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/base/engine_error.h"

namespace vevura {
namespace {

TEST(RecordsBitmapStackTest, TakeReusesClearedSparesAndKeepsAtMost64) {
  TRecordsBitmapStack stack;
  std::unique_ptr<TRecordsBitmap> first = stack.Take();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Size(), 0);
  first->SetSize(500);
  first->SetAll();
  TRecordsBitmap* const address = first.get();
  stack.GiveBack(std::move(first));
  EXPECT_EQ(stack.SpareCount(), 1u);

  std::unique_ptr<TRecordsBitmap> again = stack.Take();
  EXPECT_EQ(again.get(), address);
  EXPECT_EQ(again->Size(), 500);
  EXPECT_EQ(again->Count(), 0);
  EXPECT_EQ(stack.SpareCount(), 0u);

  for (int i = 0; i < 64; ++i) stack.GiveBack(std::make_unique<TRecordsBitmap>());
  EXPECT_EQ(stack.SpareCount(), 64u);
  stack.GiveBack(std::move(again));  // the 65th is destroyed
  EXPECT_EQ(stack.SpareCount(), 64u);
  for (int i = 0; i < 64; ++i) EXPECT_NE(stack.Take().get(), address);
  stack.GiveBack(nullptr);
  EXPECT_EQ(stack.SpareCount(), 0u);

  stack.GiveBack(std::make_unique<TRecordsBitmap>());
  stack.Clear();
  EXPECT_EQ(stack.SpareCount(), 0u);
}

TEST(RecordsBitmapStackTest, ProcessPoolExistsOnlyBetweenCreateAndDestroy) {
  DestroyRecordsBitmapStack();
  try {
    RecordsBitmapStack();
    ADD_FAILURE() << "the pool answered before it was created";
  } catch (const EVEVURAEngineError& error) {
    EXPECT_EQ(error.ErrorCode, VEVURA_NOTINITIALIZED);
  }
  ReturnRecordsBitmap(std::make_unique<TRecordsBitmap>());  // no pool: destroyed

  CreateRecordsBitmapStack();
  ReturnRecordsBitmap(std::make_unique<TRecordsBitmap>());
  EXPECT_EQ(RecordsBitmapStack().SpareCount(), 1u);
  CreateRecordsBitmapStack();  // already there: kept with its spares
  EXPECT_EQ(RecordsBitmapStack().SpareCount(), 1u);
  DestroyRecordsBitmapStack();
  CreateRecordsBitmapStack();
  EXPECT_EQ(RecordsBitmapStack().SpareCount(), 0u);
  DestroyRecordsBitmapStack();
}

TEST(RecordsBitmapStackTest, ThreadsNeverShareATakenBitmap) {
  TRecordsBitmapStack stack;
  constexpr int kThreads = 4;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &stack, &failures] {
      for (int i = 0; i < 500; ++i) {
        std::unique_ptr<TRecordsBitmap> bitmap = stack.Take();
        bitmap->SetSize(64);
        if (bitmap->Count() != 0) ++failures[t];
        bitmap->Set(t + 1);
        std::this_thread::yield();
        if (bitmap->Count() != 1 || !bitmap->Test(t + 1)) ++failures[t];
        stack.GiveBack(std::move(bitmap));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_LE(stack.SpareCount(), TRecordsBitmapStack::kMaxSpares);
}

}  // namespace
}  // namespace vevura
