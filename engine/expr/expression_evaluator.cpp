#include "engine/expr/expression_evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/language/collation.h"

namespace vevura {
namespace {

bool IsText(uint8_t type, uint8_t subtype) {
  return type == fcString || (type == fcBlob && subtype == fsMemo);
}
bool IsInt(uint8_t t) {
  return t == fcSmallInt || t == fcInteger || t == fcWord || t == fcLargeInt || t == fcInteger32;
}
bool IsNumber(uint8_t t) {
  return IsInt(t) || t == fcFloat || t == fcBCD;
}
bool IsTemporal(uint8_t t) {
  return t == fcDate || t == fcTime || t == fcTimeStamp;
}
bool IsByteType(uint8_t t) {
  return t == fcBytes || t == fcVarBytes || t == fcTenBytes || t == fcBlob;
}

//! One of the six comparison operators.
bool IsComparison(TExpOp op) {
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::Less:
    case TExpOp::LessEqual:
    case TExpOp::Greater:
    case TExpOp::GreaterEqual:
      return true;
    default:
      return false;
  }
}

//! Whether a comparison op holds for a three-way result c (<0, 0, >0).
bool ComparisonHolds(TExpOp op, int c) {
  switch (op) {
    case TExpOp::Equal:
      return c == 0;
    case TExpOp::NotEqual:
      return c != 0;
    case TExpOp::Less:
      return c < 0;
    case TExpOp::LessEqual:
      return c <= 0;
    case TExpOp::Greater:
      return c > 0;
    default:
      return c >= 0;
  }
}

TExpToken Null(const TExpToken& node) {
  TExpToken result;
  result.Type = node.Type, result.Subtype = node.Subtype, result.Size = node.Size;
  result.Scale = node.Scale;
  result.IsNull = true;
  return result;
}

// A double as a 32-bit integer, limited to the type's range (NaN is 0).
int32_t ClampedInt32(double value) {
  if (!(value == value)) return 0;
  return static_cast<int32_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

TExpToken Boolean(bool value) {
  TExpToken result;
  result.SetBoolean(value);
  return result;
}

// The moment of a temporal value in milliseconds since day 0.
double Moment(const TExpToken& value) {
  switch (value.Type) {
    case fcDate:
      return static_cast<double>(value.AsLargeInt()) * static_cast<double>(kMsPerDay);
    case fcTimeStamp:
      return value.AsFloat();
    default:
      return static_cast<double>(value.AsLargeInt());
  }
}

// Stores a whole number in the integer type of the node, wrapping like the
// record's integers do.
TExpToken Integral(const TExpToken& node, int64_t value) {
  TExpToken result;
  switch (node.Type) {
    case fcSmallInt:
      result.SetSmallInt(static_cast<int16_t>(static_cast<uint16_t>(value)));
      break;
    case fcWord:
      result.SetWord(static_cast<uint16_t>(value));
      break;
    case fcLargeInt:
      result.SetLargeInt(value);
      break;
    default:
      result.SetInteger(static_cast<int32_t>(static_cast<uint32_t>(value)));
      break;
  }
  return result;
}

// A BCD of the given places from a floating value; null when it does not fit.
TExpToken BcdValue(const TExpToken& node, long double value, int places) {
  char text[128];
  if (!std::isfinite(value)) return Null(node);
  std::snprintf(text, sizeof text, "%.*Lf", std::clamp(places + 2, 0, 32), value);
  TBcd bcd;
  if (!BcdFromText(text, std::clamp(places, 0, 32), &bcd)) return Null(node);
  TExpToken result;
  result.SetBcd(bcd, node.Scale);
  return result;
}

long double Wide(const TExpToken& value) {
  if (value.Type == fcBCD) {
    const std::string text = BcdToText(value.AsBcd());
    return std::strtold(text.c_str(), nullptr);
  }
  if (IsInt(value.Type) || value.Type == fcBoolean)
    return static_cast<long double>(value.AsLargeInt());
  return value.AsFloat();
}

class TEvaluator {
 public:
  TEvaluator(std::span<const uint8_t> record, const TEvaluationContext& context)
      : record_(record), context_(context) {}

  //! Whether a filter node's value is a true boolean: what Eval gives,
  //! decided without value tokens for AND, OR and the comparisons of a
  //! numeric field with a numeric constant.
  bool Truth(const TExpToken& node) {
    if (node.Kind == TExpKind::Binary && node.Left && node.Right) {
      // As Binary: the right side first, the left only when it decides.
      if (node.Op == TExpOp::And) return Truth(*node.Right) && Truth(*node.Left);
      if (node.Op == TExpOp::Or) return Truth(*node.Right) || Truth(*node.Left);
      if (const std::optional<bool> holds = NumericComparison(node)) return *holds;
    }
    const TExpToken value = Eval(node);
    return !value.IsNull && value.AsLargeInt() != 0;
  }

  TExpToken Eval(const TExpToken& node) {
    switch (node.Kind) {
      case TExpKind::Constant: {
        TExpToken result = Null(node);
        result.IsNull = node.IsNull;
        result.Value = node.Value;
        return result;
      }
      case TExpKind::Field:
        return ReadField(node);
      case TExpKind::Unary:
        return Unary(node);
      case TExpKind::Binary:
        return Binary(node);
      case TExpKind::StringCompare: {
        const TExpToken l = Eval(*node.Left);
        const TExpToken r = Eval(*node.Right);
        return Boolean(EqualityHolds(node.Op, l, r, node.Caseless, node.PrefixLength));
      }
      case TExpKind::Predicate:
        return Predicate(node);
      case TExpKind::Function:
        return Function(node);
    }
    return Null(node);
  }

 private:
  [[noreturn]] void Fail(const std::string& detail) const {
    RaiseEngineError(context_.ErrorCode ? context_.ErrorCode : VEVURA_INVALIDFILTER, "", "", "",
                     context_.TableName, "", "", detail);
  }

  TExpToken ReadField(const TExpToken& node) {
    const auto* fields = context_.Fields;
    if (!fields || node.FieldNumber < 1 || static_cast<size_t>(node.FieldNumber) > fields->size())
      Fail("Field '" + node.Text + "' is not a field of the table");
    const TFieldDescriptor& field = (*fields)[static_cast<size_t>(node.FieldNumber - 1)];
    TExpToken result = Null(node);
    if (field.HasStorage() && FieldIsNull(record_, field)) return result;
    switch (field.Type) {
      case fcString:
        result.SetString(GetStringField(record_, field));
        break;
      case fcDate:
        result.SetDate(GetDateField(record_, field));
        break;
      case fcTime:
        result.SetTime(GetTimeField(record_, field));
        break;
      case fcTimeStamp:
        result.SetTimeStamp(GetTimeStampField(record_, field));
        break;
      case fcBoolean:
        result.SetBoolean(GetBooleanField(record_, field));
        break;
      case fcSmallInt:
        result.SetSmallInt(GetSmallIntField(record_, field));
        break;
      case fcInteger:
      case fcInteger32:
        result.SetInteger(GetIntegerField(record_, field));
        break;
      case fcWord:
        result.SetWord(GetWordField(record_, field));
        break;
      case fcLargeInt:
        result.SetLargeInt(GetLargeIntField(record_, field));
        break;
      case fcFloat:
        result.SetFloat(GetFloatField(record_, field));
        break;
      case fcBCD:
        result.SetBcd(GetBcdField(record_, field), field.Scale);
        break;
      case fcBlob:
        if (context_.ReadBlob) {
          result.Value = context_.ReadBlob(record_, field);
          result.IsNull = result.Value.empty();
          if (field.Subtype == fsMemo && !result.IsNull) result.Value.push_back(0);
        }
        break;
      case fcBytes:
      case fcVarBytes:
      case fcTenBytes:
        result.Value = GetBytesField(record_, field);
        result.IsNull = false;
        break;
      default:
        break;
    }
    result.Type = field.Type == fcInteger32 ? uint8_t{fcInteger} : field.Type;
    result.Subtype = field.Subtype;
    return result;
  }

  //! A comparison of a field of an integer or float type with a non-null
  //! constant of such a type, decided from the record as Holds decides it
  //! for the values ReadField and Eval give; nullopt for any other node.
  std::optional<bool> NumericComparison(const TExpToken& node) const {
    const TExpToken& left = *node.Left;
    const TExpToken& right = *node.Right;
    if (!IsComparison(node.Op)) return std::nullopt;
    if (left.Kind != TExpKind::Field || right.Kind != TExpKind::Constant || right.IsNull ||
        !(IsInt(right.Type) || right.Type == fcFloat)) {
      return std::nullopt;
    }
    const auto* fields = context_.Fields;
    if (!fields || left.FieldNumber < 1 || static_cast<size_t>(left.FieldNumber) > fields->size()) {
      return std::nullopt;
    }
    const TFieldDescriptor& field = (*fields)[static_cast<size_t>(left.FieldNumber - 1)];
    const uint8_t type = field.Type == fcInteger32 ? uint8_t{fcInteger} : field.Type;
    if (!(IsInt(type) || type == fcFloat) || left.Type != type) return std::nullopt;
    if (field.HasStorage() && FieldIsNull(record_, field)) {
      // A null against a value: only <> holds.
      return node.Op == TExpOp::NotEqual;
    }
    int c;
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (type == fcFloat) {
      const long double b = IsInt(right.Type) ? static_cast<long double>(right.AsLargeInt())
                                              : static_cast<long double>(right.AsFloat());
      c = sign(static_cast<long double>(GetFloatField(record_, field)), b);
    } else {
      int64_t a;
      switch (type) {
        case fcSmallInt:
          a = GetSmallIntField(record_, field);
          break;
        case fcWord:
          a = GetWordField(record_, field);
          break;
        case fcLargeInt:
          a = GetLargeIntField(record_, field);
          break;
        default:
          a = GetIntegerField(record_, field);
          break;
      }
      c = IsInt(right.Type)
              ? sign(a, right.AsLargeInt())
              : sign(static_cast<long double>(a), static_cast<long double>(right.AsFloat()));
    }
    return ComparisonHolds(node.Op, c);
  }

  TExpToken Unary(const TExpToken& node) {
    const TExpToken value = Eval(*node.Left);
    if (node.Op == TExpOp::Not) return Boolean(value.AsLargeInt() == 0);
    if (value.IsNull || node.Op == TExpOp::Plus) {
      TExpToken result = Null(node);
      result.IsNull = value.IsNull;
      result.Value = value.Value;
      return result;
    }
    switch (value.Type) {
      case fcFloat: {
        TExpToken result;
        result.SetFloat(-value.AsFloat());
        return result;
      }
      case fcBCD: {
        TBcd bcd = value.AsBcd();
        bcd.SignSpecialPlaces ^= 0x80;
        TExpToken result;
        result.SetBcd(bcd, value.Scale);
        return result;
      }
      default:
        if (IsInt(value.Type))
          return Integral(value,
                          static_cast<int64_t>(0 - static_cast<uint64_t>(value.AsLargeInt())));
        return Null(node);
    }
  }

  // -1, 0 or 1 for two non-null values (or nulls read as 0 and "").
  int Compare(const TExpToken& l, const TExpToken& r, bool caseless, int32_t prefix) {
    if (IsText(l.Type, l.Subtype) || IsText(r.Type, r.Subtype)) {
      const std::string a = l.AsString(), b = r.AsString();
      if (prefix > 0) {
        std::string pa = a, pb = b;
        pa.resize(static_cast<size_t>(prefix), '\0');
        pb.resize(static_cast<size_t>(prefix), '\0');
        return CompareText(context_.LanguageId, context_.SortId, pa.data(), pb.data(), caseless,
                           static_cast<size_t>(prefix));
      }
      return CompareText(context_.LanguageId, context_.SortId, a, b, caseless);
    }
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (IsTemporal(l.Type) || IsTemporal(r.Type)) return sign(Moment(l), Moment(r));
    if (l.Type == fcBoolean || r.Type == fcBoolean) return sign(l.AsBoolean(), r.AsBoolean());
    if (IsInt(l.Type) && IsInt(r.Type)) return sign(l.AsLargeInt(), r.AsLargeInt());
    if (IsNumber(l.Type) || IsNumber(r.Type)) return sign(Wide(l), Wide(r));
    const size_t n = std::min(l.Value.size(), r.Value.size());
    const int c = n ? std::memcmp(l.Value.data(), r.Value.data(), n) : 0;
    if (c) return c < 0 ? -1 : 1;
    return sign(l.Value.size(), r.Value.size());
  }

  bool EqualityHolds(TExpOp op, const TExpToken& l, const TExpToken& r, bool caseless,
                     int32_t prefix) {
    bool equal;
    if (l.IsNull || r.IsNull) {
      equal = l.IsNull && r.IsNull;
    } else {
      equal = Compare(l, r, caseless, prefix) == 0;
    }
    return op == TExpOp::NotEqual ? !equal : equal;
  }

  bool OrderHolds(TExpOp op, const TExpToken& l, const TExpToken& r) {
    const bool text = IsText(l.Type, l.Subtype) || IsText(r.Type, r.Subtype);
    if (!text && l.IsNull != r.IsNull) return false;
    return ComparisonHolds(op, Compare(l, r, false, 0));
  }

  bool Holds(TExpOp op, const TExpToken& l, const TExpToken& r) {
    if (op == TExpOp::Equal || op == TExpOp::NotEqual) return EqualityHolds(op, l, r, false, 0);
    return OrderHolds(op, l, r);
  }

  TExpToken Binary(const TExpToken& node) {
    if (node.Op == TExpOp::And || node.Op == TExpOp::Or) {
      const TExpToken r = Eval(*node.Right);
      const bool right = r.AsLargeInt() != 0;
      if (node.Op == TExpOp::And && !right) return Boolean(false);
      if (node.Op == TExpOp::Or && right) return Boolean(true);
      return Boolean(Eval(*node.Left).AsLargeInt() != 0);
    }
    const TExpToken l = Eval(*node.Left);
    const TExpToken r = Eval(*node.Right);
    if (IsComparison(node.Op)) return Boolean(Holds(node.Op, l, r));
    return Arithmetic(node, l, r);
  }

  TExpToken Arithmetic(const TExpToken& node, const TExpToken& l, const TExpToken& r) {
    if (node.Op == TExpOp::Add && IsText(node.Type, node.Subtype)) {
      TExpToken result = Null(node);
      const std::string text = l.AsString() + r.AsString();
      result.IsNull = text.empty();
      if (!text.empty()) {
        result.Value.assign(text.begin(), text.end());
        result.Value.push_back(0);
      }
      return result;
    }
    if (l.IsNull || r.IsNull || node.Type == fcNone) return Null(node);
    if (IsTemporal(l.Type) || IsTemporal(r.Type)) return Temporal(node, l, r);
    if (node.Type == fcFloat || node.Type == fcBCD) {
      const long double a = Wide(l), b = Wide(r);
      long double value = 0;
      switch (node.Op) {
        case TExpOp::Add:
          value = a + b;
          break;
        case TExpOp::Subtract:
          value = a - b;
          break;
        case TExpOp::Multiply:
          value = a * b;
          break;
        default:
          if (b == 0) return Null(node);
          value = a / b;
          break;
      }
      if (node.Type == fcBCD) return BcdValue(node, value, node.Scale);
      TExpToken result;
      result.SetFloat(static_cast<double>(value));
      return result;
    }
    const uint64_t a = static_cast<uint64_t>(l.AsLargeInt());
    const uint64_t b = static_cast<uint64_t>(r.AsLargeInt());
    switch (node.Op) {
      case TExpOp::Add:
        return Integral(node, static_cast<int64_t>(a + b));
      case TExpOp::Subtract:
        return Integral(node, static_cast<int64_t>(a - b));
      case TExpOp::Multiply:
        return Integral(node, static_cast<int64_t>(a * b));
      default: {
        const int64_t x = static_cast<int64_t>(a), y = static_cast<int64_t>(b);
        if (y == 0) return Null(node);
        if (y == -1) return Integral(node, static_cast<int64_t>(0 - a));
        return Integral(node, x / y);
      }
    }
  }

  // Dates move by days, times by milliseconds, timestamps by days; the
  // difference of two dates is in days, of two times in milliseconds, of two
  // timestamps in (fractional) days.
  TExpToken Temporal(const TExpToken& node, const TExpToken& l, const TExpToken& r) {
    const double day = static_cast<double>(kMsPerDay);
    TExpToken result;
    if (IsTemporal(l.Type) && IsTemporal(r.Type)) {
      if (node.Op != TExpOp::Subtract) return Null(node);
      const double diff = Moment(l) - Moment(r);
      if (node.Type == fcFloat) {
        result.SetFloat(diff / day);
      } else if (l.Type == fcTime && r.Type == fcTime) {
        result.SetInteger(ClampedInt32(diff));
      } else {
        result.SetInteger(ClampedInt32(std::floor(diff / day)));
      }
      return result;
    }
    const TExpToken& moment = IsTemporal(l.Type) ? l : r;
    const TExpToken& amount = IsTemporal(l.Type) ? r : l;
    if (node.Op != TExpOp::Add && !(node.Op == TExpOp::Subtract && &moment == &l))
      return Null(node);
    const double n = (node.Op == TExpOp::Subtract ? -1.0 : 1.0) * amount.AsFloat();
    if (!std::isfinite(n)) return Null(node);
    switch (moment.Type) {
      case fcDate: {
        const double days = static_cast<double>(moment.AsLargeInt()) + std::trunc(n);
        if (!(days >= 1 && days <= 3652059)) return Null(node);
        result.SetDate(static_cast<int32_t>(days));
        return result;
      }
      case fcTime: {
        const double ms = std::fmod(static_cast<double>(moment.AsLargeInt()) + std::trunc(n), day);
        result.SetTime(static_cast<int32_t>(ms < 0 ? ms + day : ms));
        return result;
      }
      default:
        result.SetTimeStamp(moment.AsFloat() + n * day);
        return result;
    }
  }

  TExpToken Predicate(const TExpToken& node) {
    const TExpToken l = Eval(*node.Left);
    bool holds = false;
    switch (node.Op) {
      case TExpOp::Like:
      case TExpOp::NotLike: {
        const TExpToken p = Eval(*node.Args[0]);
        holds = !l.IsNull && !p.IsNull &&
                LikeMatches(l.AsString(), p.AsString(), context_.LanguageId, context_.SortId);
        return Boolean(node.Op == TExpOp::Like ? holds : !holds);
      }
      case TExpOp::In:
      case TExpOp::NotIn:
        for (const auto& arg : node.Args) {
          if (EqualityHolds(TExpOp::Equal, l, Eval(*arg), false, 0)) {
            holds = true;
            break;
          }
        }
        return Boolean(node.Op == TExpOp::In ? holds : !holds);
      case TExpOp::Between:
      case TExpOp::NotBetween:
        holds = node.Args.size() == 2 && OrderHolds(TExpOp::GreaterEqual, l, Eval(*node.Args[0])) &&
                OrderHolds(TExpOp::LessEqual, l, Eval(*node.Args[1]));
        return Boolean(node.Op == TExpOp::Between ? holds : !holds);
      default:
        return Null(node);
    }
  }

  TExpToken Function(const TExpToken& node);
  TExpToken Retyped(const TExpToken& node, TExpToken value);
  TExpToken TextWords(const TExpToken& node, const std::string& search, const std::string& text);
  TExpToken Cast(const TExpToken& node, const TExpToken& x);

  std::span<const uint8_t> record_;
  const TEvaluationContext& context_;
};

// A text result in the node's type; an empty text is null.
TExpToken Text(const TExpToken& node, const std::string& text) {
  TExpToken result = Null(node);
  if (!text.empty()) {
    result.IsNull = false;
    result.Value.assign(text.begin(), text.end());
    result.Value.push_back(0);
  }
  return result;
}

// Calendar parts of a temporal value; a time lies on day 0 of the platform.
struct TMoment {
  int32_t Day = kDayNumberOfZeroDay;
  int32_t Ms = 0;
};

TMoment MomentOf(const TExpToken& value) {
  TMoment moment;
  if (value.Type == fcDate) {
    moment.Day = static_cast<int32_t>(value.AsLargeInt());
  } else if (value.Type == fcTime) {
    moment.Ms = static_cast<int32_t>(value.AsLargeInt());
  } else {
    const double stamp = value.AsFloat();
    const double day = std::floor(stamp / static_cast<double>(kMsPerDay));
    if (!(day >= 1 && day <= 3652059)) return TMoment{0, 0};
    moment.Day = static_cast<int32_t>(day);
    moment.Ms = static_cast<int32_t>(stamp - day * static_cast<double>(kMsPerDay));
  }
  return moment;
}

// 1 for Monday to 7 for Sunday; day 1 (0001-01-01) is a Monday.
int DayOfWeek(int32_t day) {
  return static_cast<int>((day - 1) % 7 + 1);
}

int DayOfYear(int32_t day) {
  const auto parts = DateFromDayNumber(day);
  int32_t first = 0;
  if (!DayNumberFromDate(parts.year, 1, 1, &first)) return 0;
  return static_cast<int>(day - first + 1);
}

// ISO 8601: the week of a day is the week of its Thursday, numbered within
// the Thursday's year.
int IsoWeek(int32_t day) {
  const int32_t thursday = day - (DayOfWeek(day) - 1) + 3;
  return (DayOfYear(thursday) - 1) / 7 + 1;
}

int ExtractPart(int part, const TExpToken& value) {
  const TMoment m = MomentOf(value);
  if (m.Day < 1 || m.Day > 3652059) return 0;
  const bool has_date = value.Type != fcTime, has_time = value.Type != fcDate;
  const auto date = DateFromDayNumber(m.Day);
  const auto time = TimeFromMilliseconds(m.Ms);
  switch (part) {
    case epYear:
      return has_date ? date.year : 0;
    case epMonth:
      return has_date ? date.month : 0;
    case epDay:
      return has_date ? date.day : 0;
    case epHour:
      return has_time ? time.hour : 0;
    case epMinute:
      return has_time ? time.minute : 0;
    case epSecond:
      return has_time ? time.second : 0;
    case epDayOfWeek:
      return DayOfWeek(m.Day);
    case epDayOfYear:
      return DayOfYear(m.Day);
    case epWeek:
      return m.Day + 3 > 3652059 ? 52 : IsoWeek(m.Day);
    default:
      return 0;
  }
}

double RoundHalfAway(double x, int places) {
  if (x == 0) return 0;
  const double scale = std::pow(10.0, places);
  const double scaled = x * scale;
  if (!std::isfinite(scaled)) return x;
  return (x > 0 ? std::trunc(scaled + 0.5) : std::trunc(scaled - 0.5)) / scale;
}

TExpToken TEvaluator::Function(const TExpToken& node) {
  const auto& args = node.Args;
  auto arg = [&](size_t i) { return i < args.size() ? Eval(*args[i]) : Null(node); };
  switch (node.Op) {
    case TExpOp::Upper:
    case TExpOp::Lower: {
      const TExpToken x = arg(0);
      if (x.IsNull) return Null(node);
      std::string text = x.AsString();
      if (node.Op == TExpOp::Upper) {
        UpperText(context_.LanguageId, context_.SortId, text);
      } else {
        LowerText(context_.LanguageId, context_.SortId, text);
      }
      return Text(node, text);
    }
    case TExpOp::Substring: {
      const std::string x = arg(0).AsString();
      const int64_t start = std::max<int64_t>(arg(1).AsLargeInt(), 1);
      int64_t length =
          args.size() > 2 ? arg(2).AsLargeInt() : static_cast<int64_t>(x.size()) - start + 1;
      length = std::max<int64_t>(length, 0);
      if (start > static_cast<int64_t>(x.size())) return Null(node);
      return Text(node, x.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length)));
    }
    case TExpOp::Pos:
    case TExpOp::Occurs: {
      const std::string what = arg(0).AsString(), in = arg(1).AsString();
      TExpToken result;
      if (what.empty()) {
        result.SetInteger(0);
        return result;
      }
      if (node.Op == TExpOp::Pos) {
        const size_t at = in.find(what);
        result.SetInteger(at == std::string::npos ? 0 : static_cast<int32_t>(at + 1));
        return result;
      }
      int32_t count = 0;
      for (size_t at = in.find(what); at != std::string::npos; at = in.find(what, at + what.size()))
        ++count;
      result.SetInteger(count);
      return result;
    }
    case TExpOp::Replace: {
      const std::string what = arg(0).AsString(), with = arg(1).AsString();
      const std::string in = arg(2).AsString();
      if (what.empty() || what == with) return Text(node, in);
      std::string out;
      size_t from = 0;
      for (size_t at = in.find(what); at != std::string::npos; at = in.find(what, from)) {
        out.append(in, from, at - from).append(with);
        from = at + what.size();
      }
      out.append(in, from, std::string::npos);
      return Text(node, out);
    }
    case TExpOp::Trim: {
      const std::string c = arg(0).AsString();
      std::string x = arg(1).AsString();
      if (c.empty()) return Text(node, x);
      if (node.Option != tmTrailing) x.erase(0, std::min(x.find_first_not_of(c[0]), x.size()));
      if (node.Option != tmLeading) {
        const size_t last = x.find_last_not_of(c[0]);
        x.resize(last == std::string::npos ? 0 : last + 1);
      }
      return Text(node, x);
    }
    case TExpOp::Length: {
      const TExpToken x = arg(0);
      if (x.IsNull) return Null(node);
      TExpToken result;
      result.SetInteger(static_cast<int32_t>(x.AsString().size()));
      return result;
    }
    case TExpOp::Extract: {
      const TExpToken x = arg(0);
      if (x.IsNull || !IsTemporal(x.Type)) return Null(node);
      TExpToken result;
      result.SetInteger(ExtractPart(node.Option, x));
      return result;
    }
    case TExpOp::If: {
      const TExpToken c = arg(0);
      return Retyped(node, arg(!c.IsNull && c.AsLargeInt() != 0 ? 1 : 2));
    }
    case TExpOp::IfNull:
      return Retyped(node, arg(arg(0).IsNull ? 1 : 2));
    case TExpOp::Coalesce:
      for (const auto& a : args) {
        TExpToken value = Eval(*a);
        if (!value.IsNull) return Retyped(node, std::move(value));
      }
      return Null(node);
    case TExpOp::Abs: {
      const TExpToken x = arg(0);
      if (x.IsNull) return Null(node);
      if (x.Type == fcFloat) {
        TExpToken result;
        result.SetFloat(std::fabs(x.AsFloat()));
        return result;
      }
      if (x.Type == fcBCD) {
        TBcd bcd = x.AsBcd();
        bcd.SignSpecialPlaces &= 0x7F;
        TExpToken result;
        result.SetBcd(bcd, x.Scale);
        return result;
      }
      const int64_t v = x.AsLargeInt();
      return Integral(x, v < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : v);
    }
    case TExpOp::Round: {
      const TExpToken x = arg(0);
      if (x.IsNull) return Null(node);
      const int places =
          args.size() > 1 ? static_cast<int>(std::clamp<int64_t>(args[1]->AsLargeInt(), 0, 32)) : 0;
      if (x.Type == fcBCD) {
        TBcd bcd;
        if (!BcdFromText(BcdToText(x.AsBcd()), std::min(places, 4), &bcd)) return Null(node);
        TExpToken result;
        result.SetBcd(bcd, x.Scale);
        return result;
      }
      TExpToken result;
      result.SetFloat(RoundHalfAway(x.AsFloat(), places));
      return result;
    }
    case TExpOp::LastAutoInc:
    case TExpOp::IdentCurrent: {
      TExpToken result;
      result.SetInteger(0);
      return result;
    }
    case TExpOp::Cast:
      return Cast(node, arg(0));
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs:
      return TextWords(node, arg(0).AsString(), arg(1).AsString());
    default:
      return Null(node);
  }
}

// Every word of text in order, as the word index splits it (repeats kept).
std::vector<std::string> AllWords(const TTextIndexRules& rules, std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : text) {
    const auto byte = static_cast<uint8_t>(ch);
    if (!rules.IsSeparator(byte) && rules.IsWordCharacter(byte)) {
      if (word.size() < kMaxWordLength) word += ch;
    } else if (rules.IsSeparator(byte) && !word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// TEXTSEARCH: every search word is a word of the text (a word ending in "*"
// the beginning of one), stop words aside. TEXTOCCURS: the occurrences in
// the text of the search words, each counted up to 65535.
TExpToken TEvaluator::TextWords(const TExpToken& node, const std::string& search,
                                const std::string& text) {
  std::optional<TTextIndexRules> defaults;
  const TTextIndexRules* rules = context_.TextRules;
  if (!rules) {
    defaults.emplace(context_.LanguageId, context_.SortId, DefaultTextIndexParameters());
    rules = &*defaults;
  }
  const TLanguageStringList wanted = ExtractWords(*rules, search, true);
  const std::vector<std::string> words = AllWords(*rules, text);
  auto begins = [&](const std::string& word, const std::string& head) {
    return head.empty() || (word.size() >= head.size() &&
                            CompareText(rules->LanguageId(), rules->SortId(), word.data(),
                                        head.data(), true, head.size()) == 0);
  };
  auto same = [&](const std::string& word, const std::string& other) {
    return CompareText(rules->LanguageId(), rules->SortId(), word, other, true) == 0;
  };
  bool all = true;
  int64_t total = 0;
  for (const std::string& w : wanted.Strings()) {
    const size_t stars = w.size() - std::min(w.size(), w.find_last_not_of('*') + 1);
    const bool prefix = stars > 0;
    const std::string head = w.substr(0, w.size() - stars);
    if (!prefix && rules->IsStopWord(w)) continue;
    int64_t count = 0;
    for (const std::string& word : words) {
      if (prefix ? begins(word, head) : same(word, head)) ++count;
    }
    all = all && count > 0;
    total += std::min<int64_t>(count, 65535);
  }
  if (node.Op == TExpOp::TextSearch) return Boolean(all);
  TExpToken result;
  result.SetInteger(ClampedInt32(static_cast<double>(total)));
  return result;
}

TExpToken TEvaluator::Retyped(const TExpToken& node, TExpToken value) {
  // A string alternative keeps its bytes; numbers meet the node's type.
  if (value.IsNull) return Null(node);
  if (value.Type == node.Type || IsText(node.Type, node.Subtype) || !IsNumber(node.Type))
    return value;
  return Cast(node, value);
}

TExpToken TEvaluator::Cast(const TExpToken& node, const TExpToken& x) {
  if (x.IsNull) return Null(node);
  const uint8_t to = node.Type;
  TExpToken result = Null(node);
  if (to == fcBlob || x.Type == fcBlob || IsByteType(to)) {
    result.Value = x.Value;
    if (to == fcString) {
      const size_t limit = node.Size > 0 ? static_cast<size_t>(node.Size - 1) : result.Value.size();
      std::string text(result.Value.begin(), result.Value.end());
      text = text.substr(0, std::min({limit, text.find('\0'), text.size()}));
      return Text(node, text);
    }
    result.IsNull = result.Value.empty();
    return result;
  }
  if (IsNumber(to) && IsNumber(x.Type)) {
    if (IsInt(to)) return Integral(node, x.AsLargeInt());
    if (to == fcFloat) {
      result.SetFloat(static_cast<double>(Wide(x)));
      return result;
    }
    return BcdValue(node, Wide(x), node.Scale);
  }
  if (IsTemporal(to) && IsTemporal(x.Type)) {
    const TMoment m = MomentOf(x);
    if (to == fcDate) {
      if (x.Type == fcTime) return Null(node);
      result.SetDate(m.Day);
    } else if (to == fcTime) {
      if (x.Type == fcDate) return Null(node);
      result.SetTime(m.Ms);
    } else {
      result.SetTimeStamp(Moment(x));
    }
    return result;
  }
  std::string text = ValueText(x);
  if (to == fcString) {
    if (node.Size > 1 && text.size() > static_cast<size_t>(node.Size - 1))
      text.resize(static_cast<size_t>(node.Size - 1));
    return Text(node, text);
  }
  if (!ValueFromText(text, to, node.Scale, result)) Fail(ConversionErrorText(text, to));
  return result;
}

}  // namespace

bool LikeMatches(std::string_view value, std::string_view pattern, uint16_t language_id,
                 uint16_t sort_id) {
  auto same = [&](char a, char b) {
    if (language_id == 0) return a == b;
    return CompareText(language_id, sort_id, &a, &b, false, 1) == 0;
  };
  const size_t npos = std::string_view::npos;
  size_t v = 0, p = 0, star = npos, taken = 0;
  for (;;) {
    if (p < pattern.size() && pattern[p] == '%') {
      if (p + 1 == pattern.size()) return true;
      star = p++;
      taken = v;
      continue;
    }
    if (v == value.size() && p == pattern.size()) return true;
    if (v < value.size() && p < pattern.size() &&
        (pattern[p] == '_' || same(value[v], pattern[p]))) {
      ++v, ++p;
      continue;
    }
    // Back to the latest %, which takes one more character.
    if (star == npos || taken >= value.size()) return false;
    v = ++taken;
    p = star + 1;
  }
}

TExpToken EvaluateExpression(const TExpToken& tree, std::span<const uint8_t> record,
                             const TEvaluationContext& context) {
  TEvaluator evaluator(record, context);
  return evaluator.Eval(tree);
}

bool RecordPasses(const TExpToken& tree, std::span<const uint8_t> record,
                  const TEvaluationContext& context) {
  TEvaluator evaluator(record, context);
  return evaluator.Truth(tree);
}

}  // namespace vevura
