// `vevura info DIR TABLE`: the header facts, fields and indexes of a table.

#include <cmath>
#include <cstdio>

#include "engine/core/data_table.h"
#include "engine/core/table_lock_guards.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/key_context.h"
#include "platform/locale.h"
#include "tools/vevura/field_values.h"
#include "tools/vevura/table_access.h"
#include "tools/vevura/text_table.h"

namespace vevura::tool {
namespace {

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

//! A header's last-update time as local "YYYY-MM-DD HH:MM:SS".
std::string LastUpdateText(double last_update) {
  const double days = last_update + kDayNumberOfZeroDay;
  if (!std::isfinite(days) || days < -693593 || days > 2958465) return "unknown";
  const platform::DateParts date = DateFromDayNumber(DayNumberFromDayCount(days));
  const platform::TimeParts time = TimeFromMilliseconds(MillisecondsFromDayCount(days));
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month, date.day,
                time.hour, time.minute, time.second);
  return text;
}

void WriteFacts(TInvocation& invocation, TDataCursor& cursor, const std::string& table) {
  TDataTable& t = *cursor.Table();
  const TDataHeader& h = t.DataFile().Header();
  std::string language = "none (byte order)";
  if (h.LanguageId != 0) {
    const uint32_t lcid = platform::MakeLcid(h.LanguageId, h.SortId);
    language = std::to_string(h.LanguageId) + ", sort " + std::to_string(h.SortId) + " (" +
               platform::IcuLocaleForLcid(lcid) + ")";
  }
  std::string counters = "data " + std::to_string(h.ChangeCounter) + ", index " +
                         std::to_string(t.IndexFile().GetChangeCounter());
  if (t.HasBlobFields()) counters += ", BLOB " + std::to_string(t.BlobFile().ChangeCounter());
  TTextTable facts({"Table", table});
  facts.Add({"Directory", invocation.Positionals[0]});
  facts.Add({"Version", std::to_string(h.Version)});
  facts.Add({"Record size", std::to_string(h.RecordSize) + " bytes"});
  facts.Add({"Active records", std::to_string(t.IndexFile().GetActiveRecordCount())});
  facts.Add({"Record slots", std::to_string(h.NextRecordNumber - 1)});
  facts.Add({"First free slot", std::to_string(h.FirstFreeRecord)});
  facts.Add({"Language", language});
  facts.Add({"Code page", platform::CodePageOfLanguage(h.LanguageId)});
  facts.Add({"Encrypted", YesNo(h.Encrypted != 0)});
  facts.Add({"Description", h.PlainDescription()});
  facts.Add({"User version",
             std::to_string(h.UserMajorVersion) + "." + std::to_string(h.UserMinorVersion)});
  facts.Add({"Fields",
             std::to_string(h.FieldCount) + " (" + std::to_string(h.BlobFieldCount) + " BLOB)"});
  facts.Add({"BLOB block size", std::to_string(h.EffectiveBlobBlockSize())});
  facts.Add({"Last auto-increment", std::to_string(h.LastAutoIncValue)});
  facts.Add({"Last BLOB id", std::to_string(h.LastBlobId)});
  facts.Add({"Change counters", counters});
  facts.Add({"Last update", LastUpdateText(h.LastUpdate)});
  facts.Write(invocation.Out);
}

void WriteFields(TInvocation& invocation, TDataCursor& cursor) {
  TTextTable fields(
      {"#", "NAME", "TYPE", "CODE", "SIZE", "REQUIRED", "DEFAULT", "MINIMUM", "MAXIMUM", "CASE"});
  for (const TFieldDescriptor& f : cursor.Fields()) {
    std::string size;
    if (HasDeclaredSize(f.Type)) size = std::to_string(f.Size);
    if (f.Type == fcBCD) size = std::to_string(kBcdPrecision) + "," + std::to_string(f.Scale);
    const char* cases[] = {"", "lower", "upper"};
    fields.Add({std::to_string(f.FieldNumber), f.Name, TypeName(f),
                std::to_string(f.Type) + "/" + std::to_string(f.Subtype), size,
                YesNo(f.Required != 0), f.DefaultValue, f.MinValue, f.MaxValue,
                f.CharCase < 3 ? cases[f.CharCase] : std::to_string(f.CharCase)});
  }
  invocation.Out << "\nFields\n";
  fields.Write(invocation.Out, 2);
}

std::string FieldList(const TDataCursor& cursor, const TIndexDescriptor& d) {
  std::string list;
  for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i) {
    const uint16_t n = d.FieldNumbers[i];
    if (!list.empty()) list += ",";
    list += n >= 1 && n <= cursor.Fields().size() ? cursor.Fields()[n - 1].Name
                                                  : "#" + std::to_string(n);
    if (d.FieldDescending[i] != 0 && d.Descending == 0) list += " desc";
  }
  return list;
}

std::string Options(uint8_t n, const TIndexDescriptor& d) {
  std::string options;
  auto add = [&](const char* option) {
    options += options.empty() ? option : std::string(",") + option;
  };
  if (n == 0 || d.Unique != 0) add("unique");
  if (d.Descending != 0) add("descending");
  if (d.CaseInsensitive != 0) add("case-insensitive");
  const char* compression[] = {nullptr, "duplicate-compressed", "trailing-compressed",
                               "compressed"};
  if (d.Compression > 0 && d.Compression < 4) add(compression[d.Compression]);
  if (d.NoCounts != 0) add("no-counts");
  if (d.Temporary != 0) add("temporary");
  return options;
}

//! Depth and key count of index n, read under the table's read lock.
std::pair<std::string, std::string> TreeFacts(TDataCursor& cursor, uint8_t n) {
  TDataTable& t = *cursor.Table();
  try {
    TTableReadLock lock(t);
    const TKeyContext context =
        MakeKeyContext(t.DataFile().LanguageId(), t.DataFile().SortId(), n,
                       t.IndexFile().GetIndexDescriptor(n), t.DataFile().Fields(), t.TableName());
    TIndexKeyComparer comparer(context);
    TBTreePath path;
    TBTree tree(t.IndexFile(), n, comparer, path);
    TIndexPosition position;
    const bool any = tree.First(&position);
    const int depth = any ? path.Depth : 0;
    return {std::to_string(depth), std::to_string(tree.KeyTotal())};
  } catch (const std::exception& e) {
    return {"?", std::string("? (") + e.what() + ")"};
  }
}

void WriteIndexes(TInvocation& invocation, TDataCursor& cursor) {
  TTextTable indexes({"#", "NAME", "FIELDS", "OPTIONS", "KEY LENGTH", "DEPTH", "KEYS"});
  std::vector<uint8_t> numbers;
  if (cursor.HasPrimaryIndex()) numbers.push_back(0);
  for (uint8_t n = 1; n <= cursor.SecondaryIndexCount(); ++n) numbers.push_back(n);
  numbers.push_back(kSlotIndex);
  if (cursor.IndexDescriptor(kTextIndex).FieldCount > 0) numbers.push_back(kTextIndex);
  for (uint8_t n : numbers) {
    const TIndexDescriptor d = cursor.IndexDescriptor(n);
    const auto [depth, keys] = TreeFacts(cursor, n);
    std::string name = n == 0 ? "(primary)" : d.Name;
    if (n == kSlotIndex) name = "(record slots)";
    if (n == kTextIndex) name = "(words)";
    indexes.Add({std::to_string(n), name, FieldList(cursor, d), Options(n, d),
                 std::to_string(d.KeyLength), depth, keys});
  }
  invocation.Out << "\nIndexes\n";
  indexes.Write(invocation.Out, 2);
}

int RunInfo(TInvocation& invocation) {
  TTableAccess access(invocation);
  const std::string& table = invocation.Positionals[1];
  auto cursor = access.Open(table, true);
  WriteFacts(invocation, *cursor, cursor->Table()->TableName());
  WriteFields(invocation, *cursor);
  WriteIndexes(invocation, *cursor);
  return 0;
}

}  // namespace

const TCommand kInfoCommand{
    "info",
    "DIR TABLE [--password P]",
    "show a table's header facts, fields and indexes",
    "Shows the table's header (version, record size, record counts, language and code page,\n"
    "encryption, description, user version, BLOB block size, last auto-increment value and\n"
    "BLOB id, the change counters of its files, the last update), every field (number,\n"
    "name, type with its code and subtype, size, required, default, minimum, maximum,\n"
    "character case) and every index (number, name, fields, options, key length, depth\n"
    "of its tree and number of keys), the record slot index and the word index included.\n"
    "The engine keeps no description per field; the table's description is shown.\n",
    2,
    {kPasswordOption},
    RunInfo,
};

}  // namespace vevura::tool
