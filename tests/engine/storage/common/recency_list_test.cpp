#include "engine/storage/common/recency_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <random>
#include <vector>

namespace vevura {
namespace {

struct TItem : TRecencyLink<TItem> {
  int Id = 0;
};

// Both directions of the list must give the model's order, newest first.
void ExpectOrder(const TRecencyList<TItem>& list, const std::list<TItem*>& model) {
  std::vector<TItem*> forward, backward;
  for (TItem* i = list.Newest(); i != nullptr; i = i->Older()) forward.push_back(i);
  for (TItem* i = list.Oldest(); i != nullptr; i = i->Newer()) backward.insert(backward.begin(), i);
  EXPECT_EQ(forward, std::vector<TItem*>(model.begin(), model.end()));
  EXPECT_EQ(backward, forward);
}

TEST(RecencyList, RandomOperationsFollowAListModel) {
  std::vector<TItem> items(8);
  for (int i = 0; i < 8; ++i) items[i].Id = i;
  TRecencyList<TItem> list;
  std::list<TItem*> model;
  std::mt19937 random(7);
  for (int step = 0; step < 5000; ++step) {
    TItem* item = &items[random() % items.size()];
    auto at = std::find(model.begin(), model.end(), item);
    const bool listed = at != model.end();
    const unsigned action = random() % 10;
    if (action == 0) {
      list.Clear();
      model.clear();
      for (const TItem& i : items) EXPECT_TRUE(i.Older() == nullptr && i.Newer() == nullptr);
    } else if (action < 4) {
      if (!listed) continue;
      list.Remove(item);
      model.erase(at);
      EXPECT_TRUE(item->Older() == nullptr && item->Newer() == nullptr);
    } else {
      if (listed) {
        list.MoveToFront(item);
        model.erase(at);
      } else {
        list.PushFront(item);
      }
      model.push_front(item);
    }
    ExpectOrder(list, model);
    // The short look sees only the three newest; the pick from the old end is the oldest even id.
    auto wanted = [item](const TItem& i) { return &i == item; };
    auto place = std::find(model.begin(), model.end(), item);
    const bool among_three = place != model.end() && std::distance(model.begin(), place) < 3;
    EXPECT_EQ(list.FindNewest(3, wanted), among_three ? item : nullptr);
    auto even = std::find_if(model.rbegin(), model.rend(), [](TItem* i) { return i->Id % 2 == 0; });
    EXPECT_EQ(list.FindOldest([](const TItem& i) { return i.Id % 2 == 0; }),
              even == model.rend() ? nullptr : *even);
  }
}

}  // namespace
}  // namespace vevura
