// The text forms of field values (field_values.h).

#include "tools/vevura/field_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/base/engine_error.h"
#include "engine/core/data_table.h"
#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/value_text.h"
#include "platform/locale.h"

namespace vevura::tool {
namespace {

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <typename Integer>
void AppendInteger(std::string& text, Integer value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end);
}

void AppendDigits(std::string& text, int value, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*d", width, value);
  text += digits;
}

void AppendDate(std::string& text, int32_t day_number) {
  const platform::DateParts date = DateFromDayNumber(day_number);
  AppendDigits(text, date.year, 4);
  text += '-';
  AppendDigits(text, date.month, 2);
  text += '-';
  AppendDigits(text, date.day, 2);
}

void AppendTime(std::string& text, int32_t ms) {
  const platform::TimeParts time = TimeFromMilliseconds(ms);
  AppendDigits(text, time.hour, 2);
  text += ':';
  AppendDigits(text, time.minute, 2);
  text += ':';
  AppendDigits(text, time.second, 2);
  text += '.';
  AppendDigits(text, time.millisecond, 3);
}

//! A timestamp's day number and milliseconds; false for a value no date has.
bool SplitTimeStamp(double timestamp, int32_t* day, int32_t* ms) {
  if (!std::isfinite(timestamp) || timestamp < 0 || timestamp > 4e14) return false;
  const double rounded = std::round(timestamp);
  *day = static_cast<int32_t>(std::floor(rounded / kMsPerDay));
  *ms = static_cast<int32_t>(rounded - static_cast<double>(*day) * kMsPerDay);
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

//! The decimals of a number text, trailing zeros aside.
int DecimalsOf(std::string_view text) {
  const size_t point = text.find('.');
  if (point == std::string_view::npos) return 0;
  size_t end = text.size();
  while (end > point + 1 && (text[end - 1] == '0' || text[end - 1] == ' ')) --end;
  return static_cast<int>(end - point - 1);
}

bool Fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t* value,
                  std::string* error) {
  if (ParseIntegerText(text, min, max, value)) return true;
  int64_t any = 0;
  if (ParseIntegerText(text, std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max(), &any)) {
    return Fail(error, "is outside " + std::to_string(min) + " to " + std::to_string(max));
  }
  return Fail(error, "is not an integer");
}

}  // namespace

bool IsTextBlob(const TFieldDescriptor& field) {
  return field.Type == fcBlob && (field.Subtype == fsMemo || field.Subtype == fsFmtMemo);
}

std::string TypeName(const TFieldDescriptor& field) {
  switch (field.Type) {
    case fcString:
      return field.Subtype == fsFixedChar    ? "fixed string"
             : field.Subtype == fsWideString ? "wide string"
                                             : "string";
    case fcDate:
      return "date";
    case fcBlob:
      switch (field.Subtype) {
        case fsMemo:
          return "memo";
        case fsFmtMemo:
          return "formatted memo";
        case fsGraphic:
          return "graphic";
        case fsTypedBinary:
          return "typed binary";
        case fsBinary:
          return "binary";
        default:
          return "BLOB";
      }
    case fcBoolean:
      return "boolean";
    case fcSmallInt:
      return "smallint";
    case fcInteger:
      return field.Subtype == fsAutoInc ? "autoinc" : "integer";
    case fcFloat:
      return field.Subtype == fsMoney ? "money" : "float";
    case fcBCD:
      return "BCD";
    case fcBytes:
      return "bytes";
    case fcTime:
      return "time";
    case fcTimeStamp:
      return "timestamp";
    case fcWord:
      return "word";
    case fcInteger32:
      return "integer32";
    case fcTenBytes:
      return "ten bytes";
    case fcVarBytes:
      return "varbytes";
    case fcLargeInt:
      return "largeint";
    default:
      return "type " + std::to_string(field.Type);
  }
}

std::string Base64Encode(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    text += kBase64Digits[v >> 18];
    text += kBase64Digits[v >> 12 & 63];
    text += kBase64Digits[v >> 6 & 63];
    text += kBase64Digits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = uint32_t{bytes[i]} << 16 | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    text += kBase64Digits[v >> 18];
    text += kBase64Digits[v >> 12 & 63];
    text += two ? kBase64Digits[v >> 6 & 63] : '=';
    text += '=';
  }
  return text;
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.size() % 4 != 0) return false;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t v = 0;
  int bits = 0;
  size_t padding = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      if (i + 2 < text.size()) return false;
      ++padding;
      continue;
    }
    if (padding > 0) return false;
    int digit = -1;
    if (c >= 'A' && c <= 'Z') digit = c - 'A';
    if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
    if (c >= '0' && c <= '9') digit = c - '0' + 52;
    if (c == '+') digit = 62;
    if (c == '/') digit = 63;
    if (digit < 0) return false;
    v = v << 6 | static_cast<uint32_t>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(v >> bits));
    }
  }
  *bytes = std::move(out);
  return true;
}

TFieldValues::TFieldValues(TDataCursor& cursor) : cursor_(cursor) {
  language_ = cursor.Table()->DataFile().LanguageId();
  lcid_ = cursor.TableLcid();
}

void TFieldValues::ReadString(std::string_view stored, std::string& text) const {
  if (IsAscii(stored)) {
    text.assign(stored);
  } else {
    text = platform::CodePageToUtf8(language_, stored);
  }
}

void TFieldValues::ReadBlob(const TFieldDescriptor& field, TRecordImage record,
                            std::string& bytes) {
  bytes.clear();
  int32_t length = 0;
  if (int code = cursor_.OpenBlob(field.FieldNumber, record, boRead, &length)) {
    throw EVEVURAEngineError(static_cast<uint16_t>(code));
  }
  bytes.resize(static_cast<size_t>(std::max(length, 0)));
  int32_t read = 0;
  const int code = length > 0 ? cursor_.ReadBlob(field.FieldNumber, record, 0, length,
                                                 reinterpret_cast<uint8_t*>(bytes.data()), &read)
                              : 0;
  cursor_.CloseBlob(field.FieldNumber, record);
  if (code != 0) throw EVEVURAEngineError(static_cast<uint16_t>(code));
  bytes.resize(static_cast<size_t>(std::max(read, 0)));
}

TValueKind TFieldValues::Read(const TFieldDescriptor& field, TRecordImage record,
                              std::string& text) {
  text.clear();
  if (FieldIsNull(record, field)) return vkNull;
  switch (field.Type) {
    case fcString: {
      const TConstRecordImage data = FieldData(record, field);
      const auto* chars = reinterpret_cast<const char*>(data.data());
      size_t length = 0;
      while (length < data.size() && chars[length] != '\0') ++length;
      ReadString(std::string_view(chars, length), text);
      return vkText;
    }
    case fcDate:
      AppendDate(text, GetDateField(record, field));
      return vkText;
    case fcTime:
      AppendTime(text, GetTimeField(record, field));
      return vkText;
    case fcTimeStamp: {
      int32_t day = 0;
      int32_t ms = 0;
      if (!SplitTimeStamp(GetTimeStampField(record, field), &day, &ms)) return vkNull;
      AppendDate(text, day);
      text += 'T';
      AppendTime(text, ms);
      return vkText;
    }
    case fcBoolean:
      text = GetBooleanField(record, field) ? "true" : "false";
      return vkBoolean;
    case fcSmallInt:
      AppendInteger(text, GetSmallIntField(record, field));
      return vkNumber;
    case fcInteger:
    case fcInteger32:
      AppendInteger(text, GetIntegerField(record, field));
      return vkNumber;
    case fcWord:
      AppendInteger(text, GetWordField(record, field));
      return vkNumber;
    case fcLargeInt:
      AppendInteger(text, GetLargeIntField(record, field));
      return vkNumber;
    case fcFloat: {
      const double value = GetFloatField(record, field);
      if (!std::isfinite(value)) return vkNull;
      text = FloatText(value);
      return vkNumber;
    }
    case fcBCD:
      text = BcdToText(GetBcdField(record, field));
      return vkText;
    case fcBytes:
    case fcVarBytes:
    case fcTenBytes:
      text = Base64Encode(GetBytesField(record, field));
      return vkBinary;
    case fcBlob:
      ReadBlob(field, record, blob_);
      if (IsTextBlob(field)) {
        ReadString(blob_, text);
        return vkText;
      }
      text = Base64Encode({reinterpret_cast<const uint8_t*>(blob_.data()), blob_.size()});
      return vkBinary;
    default:
      return vkNull;
  }
}

bool TFieldValues::ToCodePage(std::string_view text, std::string* stored,
                              std::string* error) const {
  if (IsAscii(text)) {
    stored->assign(text);
    return true;
  }
  if (platform::Utf8ToCodePage(language_, text, stored)) return true;
  return Fail(error, "has a character the table's code page (" +
                         std::string(platform::CodePageOfLanguage(language_)) +
                         ") lacks, or is not UTF-8");
}

bool TFieldValues::WriteBlob(const TFieldDescriptor& field, TRecordImage record,
                             std::string_view text, bool write_blobs, std::string* error) {
  if (IsTextBlob(field)) {
    if (!ToCodePage(text, &blob_, error)) return false;
  } else {
    if (!Base64Decode(text, &bytes_)) return Fail(error, "is not base64");
    blob_.assign(bytes_.begin(), bytes_.end());
  }
  if (blob_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return Fail(error, "is too large for a BLOB");
  }
  if (!write_blobs) return true;
  const uint16_t n = field.FieldNumber;
  int32_t length = 0;
  int code = cursor_.OpenBlob(n, record, boWrite, &length);
  if (code == 0) code = cursor_.TruncateBlob(n, record, 0);
  if (code == 0 && !blob_.empty()) {
    code = cursor_.WriteBlob(n, record, 0, static_cast<int32_t>(blob_.size()),
                             reinterpret_cast<const uint8_t*>(blob_.data()));
  }
  if (code != 0) {
    cursor_.CloseBlob(n, record);
    throw EVEVURAEngineError(static_cast<uint16_t>(code));
  }
  // Left open: closing a changed buffer before the post would drop it.
  return true;
}

bool TFieldValues::Write(const TFieldDescriptor& field, TRecordImage record, std::string_view text,
                         bool write_blobs, std::string* error) {
  if (text.empty()) {
    // A BLOB buffer the record refers to is left to the cursor.
    if (field.Type == fcBlob && GetBlobField(record, field).FirstBlock < 0) return true;
    SetFieldNull(record, field);
    return true;
  }
  if (field.Type == fcBlob) return WriteBlob(field, record, text, write_blobs, error);
  int64_t integer = 0;
  switch (field.Type) {
    case fcString: {
      std::string stored;
      if (!ToCodePage(text, &stored, error)) return false;
      if (stored.size() > field.Size) {
        return Fail(error, "is longer than " + std::to_string(field.Size) + " characters");
      }
      SetStringField(record, field, stored, lcid_);
      return true;
    }
    case fcDate: {
      int32_t day = 0;
      if (!ParseDateText(text, &day)) return Fail(error, "is not a date (YYYY-MM-DD)");
      SetDateField(record, field, day);
      return true;
    }
    case fcTime: {
      int32_t ms = 0;
      if (!ParseTimeText(text, &ms)) return Fail(error, "is not a time (HH:MM:SS.mmm)");
      SetTimeField(record, field, ms);
      return true;
    }
    case fcTimeStamp: {
      std::string spaced(text);
      const size_t t = spaced.find('T');
      if (t != std::string::npos) spaced[t] = ' ';
      double timestamp = 0;
      if (!ParseTimeStampText(spaced, &timestamp)) {
        return Fail(error, "is not a date and time (YYYY-MM-DDTHH:MM:SS.mmm)");
      }
      SetTimeStampField(record, field, timestamp);
      return true;
    }
    case fcBoolean: {
      bool value = false;
      if (text == "1" || text == "0") {
        value = text == "1";
      } else if (!ParseBooleanText(text, &value)) {
        return Fail(error, "is not true or false");
      }
      SetBooleanField(record, field, value ? 1 : 0);
      return true;
    }
    case fcSmallInt:
      if (!ParseInteger(text, -32768, 32767, &integer, error)) return false;
      SetSmallIntField(record, field, static_cast<int16_t>(integer));
      return true;
    case fcWord:
      if (!ParseInteger(text, 0, 65535, &integer, error)) return false;
      SetWordField(record, field, static_cast<uint16_t>(integer));
      return true;
    case fcInteger:
    case fcInteger32:
      if (!ParseInteger(text, std::numeric_limits<int32_t>::min(),
                        std::numeric_limits<int32_t>::max(), &integer, error)) {
        return false;
      }
      SetIntegerField(record, field, static_cast<int32_t>(integer));
      return true;
    case fcLargeInt:
      if (!ParseInteger(text, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max(), &integer, error)) {
        return false;
      }
      SetLargeIntField(record, field, integer);
      return true;
    case fcFloat: {
      double value = 0;
      if (!ParseFloatText(text, &value)) return Fail(error, "is not a number");
      SetFloatField(record, field, value);
      return true;
    }
    case fcBCD: {
      TBcd value;
      if (!BcdFromText(text, field.Scale, &value)) {
        return Fail(error, "is not a decimal number of at most " +
                               std::to_string(kBcdPrecision - field.Scale) + " integer digits");
      }
      if (DecimalsOf(text) > field.Scale) {
        return Fail(error, "has more than " + std::to_string(field.Scale) + " decimals");
      }
      SetBcdField(record, field, value);
      return true;
    }
    case fcBytes:
    case fcVarBytes:
    case fcTenBytes:
      if (!Base64Decode(text, &bytes_)) return Fail(error, "is not base64");
      if (bytes_.size() > FieldDataSize(field)) {
        return Fail(error, "is longer than " + std::to_string(FieldDataSize(field)) + " bytes");
      }
      SetBytesField(record, field, bytes_);
      return true;
    default:
      return Fail(error, "is of a type that holds no value");
  }
}

}  // namespace vevura::tool
