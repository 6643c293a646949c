#include "components/framework/db_types.h"

#include <array>

#include "engine/storage/fields/value_text.h"

namespace vevura {

const char* FieldTypeName(TFieldType type) {
  static constexpr std::array<const char*, ftOraInterval + 1> kNames = {
      "Unknown",    "String",     "Smallint",      "Integer",     "Word",         "Boolean",
      "Float",      "Currency",   "BCD",           "Date",        "Time",         "DateTime",
      "Bytes",      "VarBytes",   "AutoInc",       "Blob",        "Memo",         "Graphic",
      "FmtMemo",    "ParadoxOle", "DBaseOle",      "TypedBinary", "Cursor",       "FixedChar",
      "WideString", "Largeint",   "ADT",           "Array",       "Reference",    "DataSet",
      "OraBlob",    "OraClob",    "Variant",       "Interface",   "IDispatch",    "Guid",
      "TimeStamp",  "FMTBcd",     "FixedWideChar", "WideMemo",    "OraTimeStamp", "OraInterval"};
  return type < kNames.size() ? kNames[type] : "Unknown";
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftWideMemo:
      return true;
    default:
      return false;
  }
}

std::string ValueText(const TValue& value) {
  switch (value.index()) {
    case 0:
      return {};
    case 1:
      return std::get<bool>(value) ? "True" : "False";
    case 2:
      return std::to_string(std::get<int64_t>(value));
    case 3:
      return FloatText(std::get<double>(value));
    case 4:
      return std::get<std::string>(value);
    default: {
      const TBytes& bytes = std::get<TBytes>(value);
      return std::string(bytes.begin(), bytes.end());
    }
  }
}

}  // namespace vevura
