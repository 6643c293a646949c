// `vevura dump DIR TABLE`: the records, streamed in an index's order or in
// record-number order, as text, CSV or JSON lines.

#include <memory>

#include "engine/core/data_table.h"
#include "platform/locale.h"
#include "tools/vevura/csv.h"
#include "tools/vevura/field_values.h"
#include "tools/vevura/progress.h"
#include "tools/vevura/table_access.h"

namespace vevura::tool {
namespace {

enum TFormat { fmText, fmCsv, fmJson };

//! Bytes collected before they are written out.
constexpr size_t kFlushBytes = 1 << 16;

TFormat FormatOf(const std::string& name) {
  if (name.empty() || name == "text") return fmText;
  if (name == "csv") return fmCsv;
  if (name == "json") return fmJson;
  throw TUsageError("--format is text, csv or json, not " + name);
}

const TFieldDescriptor& FieldNamed(const TDataCursor& cursor, const std::string& name) {
  for (const TFieldDescriptor& field : cursor.Fields()) {
    if (platform::SameTextSystem(field.Name, name)) return field;
  }
  throw std::runtime_error("no field " + name + " in table " + cursor.TableName());
}

//! The fields named by --fields (comma-separated), or every field.
std::vector<const TFieldDescriptor*> SelectFields(const TDataCursor& cursor,
                                                  const std::string& list) {
  std::vector<const TFieldDescriptor*> fields;
  if (list.empty()) {
    for (const TFieldDescriptor& field : cursor.Fields()) fields.push_back(&field);
    return fields;
  }
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    fields.push_back(&FieldNamed(cursor, list.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields;
}

//! The image of the cursor's first (or last) record in its order; empty
//! when it has none.
std::vector<uint8_t> EndRecord(TDataCursor& cursor, bool last) {
  std::vector<uint8_t> record(cursor.RecordSize());
  if (last) {
    cursor.Last();
    if (cursor.Prior(record) != kCursorOnRecord) record.clear();
  } else {
    cursor.First();
    if (cursor.Next(record) != kCursorOnRecord) record.clear();
  }
  return record;
}

//! --range LOW..HIGH over the first field of the active index: the records
//! from the first whose key is not before LOW to the last whose key is not
//! after HIGH, in the index's order; an empty side reaches the end.
void SetRange(TDataCursor& cursor, TFieldValues& values, const std::string& range) {
  const size_t dots = range.find("..");
  if (dots == std::string::npos) throw TUsageError("--range is LOW..HIGH");
  if (cursor.RecordNumberOrder()) throw TUsageError("--range needs an index order");
  const TIndexDescriptor index = cursor.IndexDescriptor(cursor.ActiveIndex());
  const TFieldDescriptor& field = cursor.Fields().at(index.FieldNumbers[0] - 1);
  std::vector<uint8_t> ends[2];
  const std::string texts[2] = {range.substr(0, dots), range.substr(dots + 2)};
  for (int side = 0; side < 2; ++side) {
    if (texts[side].empty()) {
      ends[side] = EndRecord(cursor, side == 1);
      if (ends[side].empty()) return;  // no records at all
      continue;
    }
    ends[side].assign(cursor.RecordSize(), 0);
    std::string error;
    if (!values.Write(field, ends[side], texts[side], false, &error)) {
      throw std::runtime_error("--range: " + field.Name + " value " + texts[side] + " " + error);
    }
  }
  cursor.SetRange(false, ends[0], 1, ends[1], 1);
}

void AddFilter(TDataCursor& cursor, const std::string& text) {
  std::string filter;
  const uint16_t language = cursor.Table()->DataFile().LanguageId();
  if (!platform::Utf8ToCodePage(language, text, &filter)) {
    throw std::runtime_error("--filter has a character the table's code page lacks");
  }
  cursor.ActivateFilter(cursor.AddFilter(filter, TFilterSettings{}));
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

//! Writes records in one format.
class TRecordWriter {
 public:
  TRecordWriter(TFormat format, TFieldValues& values, std::vector<const TFieldDescriptor*> fields,
                uint16_t language)
      : format_(format), values_(values), fields_(std::move(fields)) {
    for (const TFieldDescriptor* field : fields_) {
      names_.push_back(platform::CodePageToUtf8(language, field->Name));
    }
  }

  void Header(std::string& out) const {
    if (format_ != fmCsv) return;
    for (size_t i = 0; i < names_.size(); ++i) {
      if (i > 0) out += ',';
      AppendCsvField(out, names_[i]);
    }
    out += "\r\n";
  }

  void Record(std::string& out, TRecordImage record, int64_t ordinal) {
    if (format_ == fmText) {
      out += '#';
      out += std::to_string(ordinal);
      out += '\n';
    }
    if (format_ == fmJson) out += '{';
    for (size_t i = 0; i < fields_.size(); ++i) {
      const TValueKind kind = values_.Read(*fields_[i], record, text_);
      switch (format_) {
        case fmCsv:
          if (i > 0) out += ',';
          AppendCsvField(out, text_);
          break;
        case fmJson:
          if (i > 0) out += ',';
          AppendJsonString(out, names_[i]);
          out += ':';
          if (kind == vkNull) {
            out += "null";
          } else if (kind == vkNumber || kind == vkBoolean) {
            out += text_;
          } else {
            AppendJsonString(out, text_);
          }
          break;
        case fmText:
          out += names_[i];
          out += ": ";
          out += kind == vkNull ? "(null)" : text_;
          out += '\n';
          break;
      }
    }
    out += format_ == fmCsv ? "\r\n" : format_ == fmJson ? "}\n" : "\n";
  }

 private:
  TFormat format_;
  TFieldValues& values_;
  std::vector<const TFieldDescriptor*> fields_;
  std::vector<std::string> names_;  //!< in UTF-8
  std::string text_;                //!< scratch for one value
};

int RunDump(TInvocation& invocation) {
  const TFormat format = FormatOf(invocation.Value("--format"));
  if (invocation.Has("--index") && invocation.Has("--recno")) {
    throw TUsageError("--index and --recno exclude each other");
  }
  TTableAccess access(invocation);
  auto cursor = access.Open(invocation.Positionals[1], true, invocation.Has("--recno"));
  if (invocation.Has("--index")) cursor->SwitchToIndex(invocation.Value("--index"));
  TFieldValues values(*cursor);
  TRecordWriter writer(format, values, SelectFields(*cursor, invocation.Value("--fields")),
                       cursor->Table()->DataFile().LanguageId());
  if (invocation.Has("--range")) SetRange(*cursor, values, invocation.Value("--range"));
  if (invocation.Has("--filter")) AddFilter(*cursor, invocation.Value("--filter"));

  const bool progress_on = invocation.Terminal.Progress;
  TProgress progress(invocation.Err, progress_on, "dump",
                     progress_on ? cursor->GetRecordCount() : 0);
  std::string out;
  out.reserve(kFlushBytes * 2);
  writer.Header(out);
  std::vector<uint8_t> record(cursor->RecordSize());
  int64_t count = 0;
  cursor->First();
  while (cursor->Next(record) == kCursorOnRecord) {
    writer.Record(out, record, ++count);
    if (out.size() >= kFlushBytes) {
      invocation.Out.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
      if (!invocation.Out) throw std::runtime_error("cannot write the output");
    }
    progress.Update(count);
  }
  invocation.Out.write(out.data(), static_cast<std::streamsize>(out.size()));
  invocation.Out.flush();
  if (!invocation.Out) throw std::runtime_error("cannot write the output");
  return 0;
}

}  // namespace

const TCommand kDumpCommand{
    "dump",
    "DIR TABLE [--index NAME | --recno] [--filter EXPR] [--fields A,B] "
    "[--format text|csv|json] [--range LOW..HIGH] [--password P]",
    "write a table's records, in an index's order",
    "Writes the records of the table to standard output, one after the other:\n"
    "  --index NAME   in the order of the named index (default: the primary index, or\n"
    "                 record-number order for a table without one)\n"
    "  --recno        in record-number order\n"
    "  --filter EXPR  only the records the filter expression accepts\n"
    "                 (\"DEPTH > 100 AND NAME = 'Smith*'\")\n"
    "  --fields A,B   only these fields, in this order (default: every field)\n"
    "  --range L..H   only the records whose first field of the index lies from L to H,\n"
    "                 both included, in the index's order (for a descending index L is\n"
    "                 the larger value); either side may be empty (\"100..\", \"..Z\")\n"
    "  --format F     text (default): each record as NAME: value lines;\n"
    "                 csv: RFC 4180 with a header row of field names, null as empty;\n"
    "                 json: one object per line keyed by field name\n"
    "Values: numbers as numbers (BCD as an exact decimal, a string in JSON), booleans\n"
    "true/false, dates YYYY-MM-DD, times HH:MM:SS.mmm, timestamps YYYY-MM-DDTHH:MM:SS.mmm,\n"
    "strings and memos in UTF-8, bytes and binary BLOBs in base64; null in JSON, empty\n"
    "in CSV, (null) in text.\n",
    2,
    {{"--index", true},
     {"--recno", false},
     {"--filter", true},
     {"--fields", true},
     {"--format", true},
     {"--range", true},
     kPasswordOption},
    RunDump,
};

}  // namespace vevura::tool
