// One long pseudo-random run of appends, edits, deletes, locates, moves and
// index changes, made through the table component on one table and through
// an engine cursor on a twin table of the same definition: the component
// must agree with the cursor at every step, and the two tables must end up
// identical in every order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "components/vevura_table.h"
#include "engine/core/data_cursor.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/field_codec.h"
#include "platform/locale.h"
#include "tests/components/components_test_support.h"

namespace vevura {
namespace {

const char* const kFieldNames[] = {"ID", "NAME", "QTY", "PRICE", "DAY", "FLAG", "NOTE"};
constexpr int kFieldCount = 7;
const char* const kIndexes[] = {"", "ByName", "ByQtyName"};

void Define(TVEVURATable& table) {
  table.FieldDefs().Add("ID", ftAutoInc);
  table.FieldDefs().Add("NAME", ftString, 12);
  table.FieldDefs().Add("QTY", ftInteger);
  table.FieldDefs().Add("PRICE", ftFloat);
  table.FieldDefs().Add("DAY", ftDate);
  table.FieldDefs().Add("FLAG", ftBoolean);
  table.FieldDefs().Add("NOTE", ftString, 20);
  table.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
  table.IndexDefs().Add("ByName", "NAME", {ixCaseInsensitive});
  table.IndexDefs().Add("ByQtyName", "QTY;NAME", {});
}

int64_t EnvOr(const char* name, int64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoll(text, nullptr, 10) : fallback;
}

//! A value for one field; nullopt is null.
using TRandomValue = std::optional<TValue>;

class TwinTableTest : public test::ComponentsTest {
 protected:
  std::mt19937 random_;

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  //! Up to max_length characters of a small alphabet (so that names repeat
  //! in other cases), now and then ending in blanks.
  std::string RandomText(int max_length) {
    static const char kLetters[] = "abAB x";
    std::string text(Below(max_length + 1), ' ');
    for (char& c : text) c = kLetters[Below(6)];
    if (Below(4) == 0) text.append(1 + Below(3), ' ');
    return text;
  }

  //! A random value of field i (1 to 6), null one time in eight.
  TRandomValue RandomValue(int i) {
    if (Below(8) == 0) return std::nullopt;
    switch (i) {
      case 1:
        return TValue{RandomText(15)};
      case 2:
        return TValue{int64_t{Below(7) - 3}};
      case 3:
        return TValue{std::uniform_real_distribution<double>(-1e6, 1e6)(random_)};
      case 4:
        return TValue{double(Below(80000) - 20000)};
      case 5:
        return TValue{Below(2) == 0};
      default:
        return TValue{RandomText(24)};
    }
  }

  static void SetInComponent(TVEVURATable& table, int i, const TRandomValue& value) {
    TField& field = *table.FieldByName(kFieldNames[i]);
    if (!value) return field.Clear();
    if (i == 4) return field.SetAsDateTime(std::get<double>(*value));
    field.SetValue(*value);
  }

  static void SetInImage(const TDataCursor& c, std::vector<uint8_t>& image, int i,
                         const TRandomValue& value) {
    const TFieldDescriptor& f = c.Fields()[i];
    if (!value) return SetFieldNull(image, f);
    switch (i) {
      case 1:
      case 6:
        return SetStringField(image, f, std::get<std::string>(*value), c.TableLcid());
      case 2:
        return SetIntegerField(image, f, static_cast<int32_t>(std::get<int64_t>(*value)));
      case 3:
        return SetFloatField(image, f, std::get<double>(*value));
      case 4:
        return SetDateField(image, f,
                            static_cast<int32_t>(std::get<double>(*value)) + kDayNumberOfZeroDay);
      default:
        return SetBooleanField(image, f, std::get<bool>(*value) ? 1 : 0);
    }
  }

  //! Every field of a record image, as text with a null mark.
  static std::vector<std::string> Row(const TDataCursor& c, std::span<const uint8_t> image) {
    std::vector<std::string> row;
    for (const TFieldDescriptor& f : c.Fields()) {
      row.push_back(FieldIsNull(image, f) ? "<null>" : GetFieldText(image, f));
    }
    return row;
  }

  //! The component's current record in the form of Row.
  static std::vector<std::string> ComponentRow(const TDataCursor& c, TVEVURATable& table) {
    std::vector<uint8_t> image(c.RecordSize(), 0);
    for (int i = 0; i < kFieldCount; ++i) {
      TField& field = *table.FieldByName(kFieldNames[i]);
      if (i == 0) {
        SetIntegerField(image, c.Fields()[0], static_cast<int32_t>(field.AsInteger()));
      } else if (!field.IsNull()) {
        SetInImage(c, image, i, i == 4 ? TValue{field.AsDateTime()} : field.Value());
      }
    }
    return Row(c, image);
  }

  //! Stands c on the record whose row id is id (primary index).
  static bool FindId(TDataCursor& c, int32_t id, std::vector<uint8_t>& image) {
    c.SwitchToIndex("");
    std::vector<uint8_t> key(c.RecordSize(), 0);
    SetIntegerField(key, c.Fields()[0], id);
    return c.FindKey(key, false, 1, 0, false, image);
  }

  //! The records of a cursor in its current order.
  static std::vector<std::vector<std::string>> AllRows(TDataCursor& c) {
    std::vector<std::vector<std::string>> rows;
    std::vector<uint8_t> image(c.RecordSize(), 0);
    for (c.First(); c.Next(image) == kCursorOnRecord;) {
      rows.push_back(Row(c, image));
      if (c.RecordNumberOrder()) rows.back().push_back(std::to_string(c.RecordNumber()));
    }
    return rows;
  }
};

// VEVURA_TWIN_OPERATIONS: operations to run (nightly runs set more); VEVURA_TWIN_SEED: the seed.
TEST_F(TwinTableTest, TheComponentAndTheCursorBuildTheSameTable) {
  const auto operations = EnvOr("VEVURA_TWIN_OPERATIONS", 2000);
  const auto seed = static_cast<uint32_t>(EnvOr("VEVURA_TWIN_SEED", 20261209));
  SCOPED_TRACE("seed " + std::to_string(seed));
  random_.seed(seed);

  TVEVURATable table;
  table.SetTableName(dir_.path() + "COMP");
  Define(table);
  table.CreateTable();
  {
    TVEVURATable twin_definition;
    twin_definition.SetTableName(dir_.path() + "TWIN");
    Define(twin_definition);
    twin_definition.CreateTable();
  }
  table.Open();
  TDataCursor twin(table.Handle()->Directory());
  twin.SetTableName("TWIN");
  twin.OpenCursor();

  std::vector<int32_t> ids;  // the live records' row ids
  std::string index;         // the component's index
  int64_t position = 0;      // the component's expected RecNo
  std::vector<uint8_t> image(twin.RecordSize(), 0);

  // The component's current record is the twin's record at its RecNo.
  auto check_position = [&](const std::string& what) {
    ASSERT_EQ(table.RecordCount(), static_cast<int64_t>(ids.size())) << what;
    ASSERT_EQ(twin.GetRecordCount(), static_cast<int64_t>(ids.size())) << what;
    if (ids.empty()) return;
    ASSERT_EQ(table.RecNo(), position) << what << " in order '" << index << "'";
    twin.SwitchToIndex(index);
    ASSERT_TRUE(twin.SetRecNo(position)) << what;
    ASSERT_EQ(ComponentRow(twin, table), Row(twin, twin.CurrentRecord()))
        << what << " at " << position << " in order '" << index << "'";
  };

  for (int64_t step = 0; step < operations; ++step) {
    const int kind = ids.size() < 3 ? 0 : Below(100);
    std::string what;
    if (kind < 35) {
      what = "append";
      if (Below(2) == 0) {
        table.Append();
      } else {
        table.Insert();
      }
      twin.InitRecord(image);
      for (int i = 1; i < kFieldCount; ++i) {
        const TRandomValue value = RandomValue(i);
        SetInComponent(table, i, value);
        SetInImage(twin, image, i, value);
      }
      table.Post();
      twin.InsertRecord(image, true);
      const int32_t id = GetIntegerField(image, twin.Fields()[0]);
      ASSERT_EQ(table.FieldByName("ID")->AsInteger(), id) << "the auto-increment at " << step;
      ids.push_back(id);
    } else if (kind < 55) {
      const int32_t id = ids[Below(static_cast<int>(ids.size()))];
      what = "edit of " + std::to_string(id);
      ASSERT_TRUE(table.Locate("ID", {int64_t{id}}, {})) << what;
      ASSERT_TRUE(FindId(twin, id, image)) << what;
      ASSERT_EQ(twin.GetCurrentRecord(image, true), kCursorOnRecord) << what;
      table.Edit();
      for (int i = 1; i < kFieldCount; ++i) {
        if (Below(2) == 0) continue;
        const TRandomValue value = RandomValue(i);
        SetInComponent(table, i, value);
        SetInImage(twin, image, i, value);
      }
      if (Below(6) == 0) {  // given up: neither table changes
        what += " cancelled";
        table.Cancel();
        twin.CancelEdit();
      } else {
        table.Post();
        twin.ModifyRecord(image, true, true);
      }
    } else if (kind < 67) {
      const int at = Below(static_cast<int>(ids.size()));
      what = "delete of " + std::to_string(ids[at]);
      ASSERT_TRUE(table.Locate("ID", {int64_t{ids[at]}}, {})) << what;
      ASSERT_TRUE(FindId(twin, ids[at], image)) << what;
      table.Delete();
      twin.DeleteRecord(image, true);
      ids.erase(ids.begin() + at);
    } else if (kind < 77) {
      // A name of some record in other cases, or any text.
      std::string name = RandomText(14);
      if (Below(2) == 0 && FindId(twin, ids[Below(static_cast<int>(ids.size()))], image)) {
        name = GetStringField(image, twin.Fields()[1]);
        for (char& c : name) c = Below(2) == 0 ? static_cast<char>(std::toupper(c)) : c;
      }
      what = "locate of '" + name + "'";
      // The first record of the case-insensitive name order, found by key,
      // when its stored name equals the name as the field would store it.
      std::vector<uint8_t> stored(twin.RecordSize(), 0);
      SetStringField(stored, twin.Fields()[1], name, twin.TableLcid());
      const std::string wanted =
          platform::UpperCase(twin.TableLcid(), GetStringField(stored, twin.Fields()[1]));
      std::optional<int32_t> expected;
      twin.SwitchToIndex("ByName");
      if (twin.FindKey(stored, false, 1, 0, true, image) && !twin.AtEnd() &&
          platform::UpperCase(twin.TableLcid(), GetStringField(image, twin.Fields()[1])) ==
              wanted) {
        expected = GetIntegerField(image, twin.Fields()[0]);
      }
      if (wanted.empty()) continue;
      const bool found = table.Locate("NAME", {TValue{name}}, {loCaseInsensitive});
      ASSERT_EQ(found, expected.has_value()) << what;
      if (found) {
        ASSERT_EQ(table.FieldByName("ID")->AsInteger(), *expected) << what;
      }
    } else if (kind < 95) {
      const auto count = static_cast<int64_t>(ids.size());
      const int move = Below(5);
      what = "move " + std::to_string(move);
      if (move == 0) {
        table.First();
        position = 1;
      } else if (move == 1) {
        table.Last();
        position = count;
      } else if (move == 2) {
        table.Next();
        ASSERT_EQ(table.Eof(), position == count) << what;
        position = std::min(position + 1, count);
      } else if (move == 3) {
        table.Prior();
        ASSERT_EQ(table.Bof(), position == 1) << what;
        position = std::max<int64_t>(position - 1, 1);
      } else {
        const int64_t distance = Below(21) - 10;
        const int64_t target = std::clamp<int64_t>(position + distance, 1, count);
        what += " by " + std::to_string(distance);
        ASSERT_EQ(table.MoveBy(distance), target - position) << what;
        position = target;
      }
      ASSERT_NO_FATAL_FAILURE(check_position(what + " at step " + std::to_string(step)));
      continue;
    } else {
      index = kIndexes[Below(3)];
      what = "index '" + index + "'";
      table.SetIndexName(index);
    }
    position = table.RecNo();
    ASSERT_NO_FATAL_FAILURE(check_position(what + " at step " + std::to_string(step)));
  }

  // Both tables through fresh cursors in every order, and the component's
  // own reading in the primary order.
  TDataCursor comp(table.Handle()->Directory());
  comp.SetTableName("COMP");
  comp.OpenCursor();
  for (const char* order : kIndexes) {
    comp.SwitchToIndex(order);
    twin.SwitchToIndex(order);
    EXPECT_EQ(AllRows(comp), AllRows(twin)) << "order '" << order << "'";
  }
  TDataCursor comp_numbers(table.Handle()->Directory());
  TDataCursor twin_numbers(table.Handle()->Directory());
  comp_numbers.SetTableName("COMP");
  twin_numbers.SetTableName("TWIN");
  comp_numbers.SetRecordNumberOrder(true);
  twin_numbers.SetRecordNumberOrder(true);
  comp_numbers.OpenCursor();
  twin_numbers.OpenCursor();
  EXPECT_EQ(AllRows(comp_numbers), AllRows(twin_numbers)) << "record-number order";

  table.SetIndexName("");
  twin.SwitchToIndex("");
  const auto rows = AllRows(twin);
  size_t n = 0;
  for (table.First(); !table.Eof(); table.Next(), ++n) {
    ASSERT_LT(n, rows.size());
    EXPECT_EQ(ComponentRow(twin, table), rows[n]) << "record " << n + 1;
  }
  EXPECT_EQ(n, rows.size());
  EXPECT_EQ(n, ids.size());
}

}  // namespace
}  // namespace vevura
