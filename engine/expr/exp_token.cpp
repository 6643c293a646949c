#include "engine/expr/exp_token.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "engine/storage/fields/value_text.h"

namespace vevura {
namespace {

template <typename T>
void Store(std::vector<uint8_t>& bytes, T value) {
  bytes.resize(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
}

template <typename T>
T Load(const std::vector<uint8_t>& bytes) {
  T value{};
  if (bytes.size() >= sizeof(T)) std::memcpy(&value, bytes.data(), sizeof(T));
  return value;
}

}  // namespace

const char* OperatorText(TExpOp op) {
  switch (op) {
    case TExpOp::Negate:
      return "-";
    case TExpOp::Plus:
      return "+";
    case TExpOp::Not:
      return "NOT";
    case TExpOp::Or:
      return "OR";
    case TExpOp::And:
      return "AND";
    case TExpOp::Equal:
      return "=";
    case TExpOp::NotEqual:
      return "<>";
    case TExpOp::Less:
      return "<";
    case TExpOp::LessEqual:
      return "<=";
    case TExpOp::Greater:
      return ">";
    case TExpOp::GreaterEqual:
      return ">=";
    case TExpOp::Add:
      return "+";
    case TExpOp::Subtract:
      return "-";
    case TExpOp::Multiply:
      return "*";
    case TExpOp::Divide:
      return "/";
    case TExpOp::Like:
      return "LIKE";
    case TExpOp::NotLike:
      return "NOT LIKE";
    case TExpOp::In:
      return "IN";
    case TExpOp::NotIn:
      return "NOT IN";
    case TExpOp::Between:
      return "BETWEEN";
    case TExpOp::NotBetween:
      return "NOT BETWEEN";
    default:
      return "";
  }
}

bool TExpToken::RefersToField() const {
  if (Kind == TExpKind::Field) return true;
  if (Left && Left->RefersToField()) return true;
  if (Right && Right->RefersToField()) return true;
  for (const auto& arg : Args) {
    if (arg && arg->RefersToField()) return true;
  }
  return false;
}

std::unique_ptr<TExpToken> TExpToken::Clone() const {
  auto copy = std::make_unique<TExpToken>();
  copy->Text = Text;
  copy->Correlation = Correlation;
  copy->Kind = Kind;
  copy->Op = Op;
  copy->Type = Type;
  copy->Subtype = Subtype;
  copy->Size = Size;
  copy->Scale = Scale;
  copy->FieldNumber = FieldNumber;
  copy->PrefixLength = PrefixLength;
  copy->Caseless = Caseless;
  copy->Option = Option;
  copy->IsNull = IsNull;
  copy->Value = Value;
  if (Left) copy->Left = Left->Clone();
  if (Right) copy->Right = Right->Clone();
  for (const auto& arg : Args) copy->Args.push_back(arg->Clone());
  return copy;
}

void TExpToken::SetNull() {
  Type = fcNone;
  Subtype = fsNone;
  Size = 0;
  Value.clear();
  IsNull = true;
}

void TExpToken::SetString(std::string_view text) {
  Type = fcString;
  Subtype = fsNone;
  Size = static_cast<int32_t>(text.size()) + 1;
  IsNull = text.empty();
  Value.clear();
  if (!IsNull) {
    Value.assign(text.begin(), text.end());
    Value.push_back(0);
  }
}

void TExpToken::SetBoolean(bool value) {
  Type = fcBoolean;
  IsNull = false;
  Store<int16_t>(Value, value ? -1 : 0);
}
void TExpToken::SetSmallInt(int16_t value) {
  Type = fcSmallInt;
  IsNull = false;
  Store(Value, value);
}
void TExpToken::SetInteger(int32_t value) {
  Type = fcInteger;
  IsNull = false;
  Store(Value, value);
}
void TExpToken::SetWord(uint16_t value) {
  Type = fcWord;
  IsNull = false;
  Store(Value, value);
}
void TExpToken::SetLargeInt(int64_t value) {
  Type = fcLargeInt;
  IsNull = false;
  Store(Value, value);
}
void TExpToken::SetFloat(double value) {
  Type = fcFloat;
  IsNull = false;
  Store(Value, value);
}
void TExpToken::SetBcd(const TBcd& value, int scale) {
  Type = fcBCD;
  Scale = scale;
  IsNull = false;
  Value.resize(kBcdSize);
  EncodeBcd(value, Value.data());
}
void TExpToken::SetDate(int32_t day_number) {
  Type = fcDate;
  IsNull = false;
  Store(Value, day_number);
}
void TExpToken::SetTime(int32_t milliseconds) {
  Type = fcTime;
  IsNull = false;
  Store(Value, milliseconds);
}
void TExpToken::SetTimeStamp(double timestamp) {
  Type = fcTimeStamp;
  IsNull = false;
  Store(Value, timestamp);
}

std::string TExpToken::AsString() const {
  std::string text(Value.begin(), Value.end());
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

bool TExpToken::AsBoolean() const {
  return Load<int16_t>(Value) != 0;
}

int64_t TExpToken::AsLargeInt() const {
  switch (Type) {
    case fcSmallInt:
      return Load<int16_t>(Value);
    case fcWord:
      return Load<uint16_t>(Value);
    case fcInteger:
    case fcDate:
    case fcTime:
      return Load<int32_t>(Value);
    case fcLargeInt:
      return Load<int64_t>(Value);
    case fcBoolean:
      return Load<int16_t>(Value);
    case fcFloat:
    case fcTimeStamp: {
      const double value = std::trunc(Load<double>(Value));
      if (!(value > -9.2e18 && value < 9.2e18)) return 0;
      return static_cast<int64_t>(value);
    }
    case fcBCD: {
      if (Value.size() < static_cast<size_t>(kBcdSize)) return 0;
      const double value = std::trunc(BcdToDouble(DecodeBcd(Value.data())));
      if (!(value > -9.2e18 && value < 9.2e18)) return 0;
      return static_cast<int64_t>(value);
    }
    default:
      return 0;
  }
}

double TExpToken::AsFloat() const {
  switch (Type) {
    case fcFloat:
    case fcTimeStamp:
      return Load<double>(Value);
    case fcBCD:
      return Value.size() < static_cast<size_t>(kBcdSize) ? 0
                                                          : BcdToDouble(DecodeBcd(Value.data()));
    default:
      return static_cast<double>(AsLargeInt());
  }
}

TBcd TExpToken::AsBcd() const {
  if (Type == fcBCD && Value.size() >= static_cast<size_t>(kBcdSize))
    return DecodeBcd(Value.data());
  TBcd bcd;
  const std::string text = Type == fcFloat ? FloatText(AsFloat()) : std::to_string(AsLargeInt());
  if (!BcdFromText(text, 0, &bcd)) BcdFromText("0", 0, &bcd);
  return bcd;
}

std::string ValueText(const TExpToken& token) {
  if (token.IsNull) return "";
  switch (token.Type) {
    case fcString:
    case fcBlob:
    case fcBytes:
    case fcVarBytes:
      return token.AsString();
    case fcDate:
      return DateText(Load<int32_t>(token.Value));
    case fcTime:
      return TimeText(Load<int32_t>(token.Value));
    case fcTimeStamp:
      return TimeStampText(Load<double>(token.Value));
    case fcBoolean:
      return BooleanText(token.AsBoolean());
    case fcFloat:
      return FloatText(Load<double>(token.Value));
    case fcBCD:
      return BcdToText(token.AsBcd());
    case fcSmallInt:
    case fcInteger:
    case fcWord:
    case fcLargeInt:
      return std::to_string(token.AsLargeInt());
    default:
      return "";
  }
}

bool ValueFromText(std::string_view text, uint8_t type, int scale, TExpToken& token) {
  switch (type) {
    case fcString:
      token.SetString(text);
      return true;
    case fcDate: {
      int32_t day = 0;
      if (!ParseDateText(text, &day)) return false;
      token.SetDate(day);
      return true;
    }
    case fcTime: {
      int32_t ms = 0;
      if (!ParseTimeText(text, &ms)) return false;
      token.SetTime(ms);
      return true;
    }
    case fcTimeStamp: {
      double stamp = 0;
      if (!ParseTimeStampText(text, &stamp)) return false;
      token.SetTimeStamp(stamp);
      return true;
    }
    case fcBoolean: {
      bool value = false;
      if (!ParseBooleanText(text, &value)) return false;
      token.SetBoolean(value);
      return true;
    }
    case fcSmallInt:
    case fcWord:
    case fcInteger:
    case fcLargeInt: {
      int64_t min = std::numeric_limits<int64_t>::min();
      int64_t max = std::numeric_limits<int64_t>::max();
      if (type == fcSmallInt) min = -32768, max = 32767;
      if (type == fcWord) min = 0, max = 65535;
      if (type == fcInteger)
        min = std::numeric_limits<int32_t>::min(), max = std::numeric_limits<int32_t>::max();
      int64_t value = 0;
      if (!ParseIntegerText(text, min, max, &value)) return false;
      if (type == fcSmallInt) token.SetSmallInt(static_cast<int16_t>(value));
      if (type == fcWord) token.SetWord(static_cast<uint16_t>(value));
      if (type == fcInteger) token.SetInteger(static_cast<int32_t>(value));
      if (type == fcLargeInt) token.SetLargeInt(value);
      return true;
    }
    case fcFloat: {
      double value = 0;
      if (!ParseFloatText(text, &value)) return false;
      token.SetFloat(value);
      return true;
    }
    case fcBCD: {
      TBcd value;
      if (!BcdFromText(text, scale, &value)) return false;
      token.SetBcd(value, scale);
      return true;
    }
    default:
      return false;
  }
}

namespace {

//! The parts one after the other. (Built by appending: g++ 12 at -O3 takes
//! chains of operator+ on a literal and a string for overlapping copies.)
std::string Concat(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string text;
  text.reserve(size);
  for (std::string_view part : parts) text.append(part);
  return text;
}

}  // namespace

std::string ConversionErrorText(std::string_view text, uint8_t type) {
  std::string_view what;
  switch (type) {
    case fcDate:
      what = " is not a valid date";
      break;
    case fcTime:
      what = " is not a valid time";
      break;
    case fcTimeStamp:
      what = " is not a valid date and time";
      break;
    case fcBoolean:
      what = " is not a valid boolean";
      break;
    case fcSmallInt:
    case fcWord:
    case fcInteger:
    case fcLargeInt:
      what = " is not a valid integer value";
      break;
    default:
      what = " is not a valid floating point value";
      break;
  }
  return Concat({"'", text, "'", what});
}

std::string TreeText(const TExpToken& token) {
  switch (token.Kind) {
    case TExpKind::Constant:
      if (token.IsNullConstant()) return "NULL";
      if (token.Type == fcString) return Concat({"'", token.AsString(), "'"});
      return ValueText(token);
    case TExpKind::Field:
      return token.Text;
    case TExpKind::Unary:
      return Concat({"(", OperatorText(token.Op), " ", TreeText(*token.Left), ")"});
    case TExpKind::Binary:
    case TExpKind::StringCompare:
      return Concat({"(", TreeText(*token.Left), " ", OperatorText(token.Op), " ",
                     TreeText(*token.Right), ")"});
    case TExpKind::Predicate: {
      std::string text = Concat({"(", TreeText(*token.Left), " ", OperatorText(token.Op)});
      for (const auto& arg : token.Args) text.append(Concat({" ", TreeText(*arg)}));
      text.append(")");
      return text;
    }
    case TExpKind::Function: {
      std::string text = Concat({token.Text, "("});
      for (size_t i = 0; i < token.Args.size(); ++i) {
        text.append(Concat({i ? ", " : "", TreeText(*token.Args[i])}));
      }
      text.append(")");
      return text;
    }
  }
  return "";
}

}  // namespace vevura
