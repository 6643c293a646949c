#pragma once
// One node of an expression tree, and the text forms of the values it holds.
//
// A node's value is kept as a record keeps the value of a field of the node's
// type (field_codec.h): strings zero-terminated, dates as day numbers, times
// as milliseconds since midnight, timestamps as doubles, BCD as its 34 bytes.
// Booleans are 16-bit values, -1 for true and 0 for false. A null value has
// no bytes. Nodes own their operands; there is no shared pool of spare nodes.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/field_types.h"

namespace vevura {

enum class TExpKind : uint8_t {
  Unary,          //!< Left is the operand
  Binary,         //!< Left and Right
  StringCompare,  //!< compiled = or <> of Left against the string constant Right
  Field,          //!< a field reference
  Constant,       //!< Value and IsNull
  Function,       //!< Args are the arguments
  Predicate,      //!< Left is the tested value, Args the pattern, bounds or list
};

enum class TExpOp : uint8_t {
  None,
  // unary
  Negate,
  Plus,
  Not,
  // binary
  Or,
  And,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  Add,
  Subtract,
  Multiply,
  Divide,
  // predicates
  Like,
  NotLike,
  In,
  NotIn,
  Between,
  NotBetween,
  // functions
  Abs,
  Cast,
  Coalesce,
  Extract,
  IdentCurrent,
  LastAutoInc,
  If,
  IfNull,
  Length,
  Lower,
  Upper,
  Occurs,
  Pos,
  Replace,
  Round,
  Substring,
  TextOccurs,
  TextSearch,
  Trim,
  // aggregates
  Avg,
  Count,
  Max,
  Min,
  RunSum,
  Sum,
  // the * symbol as a value (all columns)
  AllColumns,
};

//! Part named by EXTRACT (Option of its node).
enum TExtractPart : int32_t {
  epYear,
  epMonth,
  epWeek,
  epDay,
  epDayOfWeek,
  epDayOfYear,
  epHour,
  epMinute,
  epSecond
};
//! Side trimmed by TRIM (Option of its node).
enum TTrimMode : int32_t { tmLeading, tmTrailing, tmBoth };

struct TExpToken {
  std::string Text;         //!< operator, name or constant as written
  std::string Correlation;  //!< table correlation name before a field name
  TExpKind Kind = TExpKind::Constant;
  TExpOp Op = TExpOp::None;
  uint8_t Type = fcNone;  //!< TFieldCode of the value; 0 for the NULL constant
  uint8_t Subtype = fsNone;
  int32_t Size = 0;  //!< declared size; a string's counts its terminating zero
  int32_t Scale = 0;
  int32_t FieldNumber = 0;   //!< 1-based, field references only
  int32_t PrefixLength = 0;  //!< string comparisons: characters compared, 0 all
  bool Caseless = false;     //!< string comparisons and case-wrapped predicates
  int32_t Option = 0;        //!< EXTRACT part, TRIM mode
  bool IsNull = true;
  std::vector<uint8_t> Value;
  std::unique_ptr<TExpToken> Left;
  std::unique_ptr<TExpToken> Right;
  std::vector<std::unique_ptr<TExpToken>> Args;

  bool IsNullConstant() const { return Kind == TExpKind::Constant && Type == fcNone; }
  bool IsMemo() const { return Type == fcBlob && Subtype == fsMemo; }
  //! True when the node or one below it is a field reference.
  bool RefersToField() const;
  //! A deep copy.
  std::unique_ptr<TExpToken> Clone() const;

  // Value setters: each sets Type (and Size where it has one) and clears IsNull.
  void SetNull();
  //! An empty text is the null string.
  void SetString(std::string_view text);
  void SetBoolean(bool value);
  void SetSmallInt(int16_t value);
  void SetInteger(int32_t value);
  void SetWord(uint16_t value);
  void SetLargeInt(int64_t value);
  void SetFloat(double value);
  void SetBcd(const TBcd& value, int scale);
  void SetDate(int32_t day_number);
  void SetTime(int32_t milliseconds);
  void SetTimeStamp(double timestamp);

  // Value getters; a null value reads as 0 or "".
  std::string AsString() const;
  bool AsBoolean() const;
  //! Any integer type, a date or a time as a 64-bit integer.
  int64_t AsLargeInt() const;
  //! Any number, date, time or timestamp as a double.
  double AsFloat() const;
  TBcd AsBcd() const;
};

//! The text form of a node's value; "" when null.
std::string ValueText(const TExpToken& token);
//! Sets token to the value of the given type that text denotes; false, with
//! token unchanged, when the text is not in that type's form. BCD uses scale.
bool ValueFromText(std::string_view text, uint8_t type, int scale, TExpToken& token);
//! The conversion error text for a text not in the form of type: "'x' is not
//! a valid date" and so on.
std::string ConversionErrorText(std::string_view text, uint8_t type);

//! A compact form of the tree for diagnostics: "(a + (b * 2))".
std::string TreeText(const TExpToken& token);
//! An operator's or predicate's text ("+", "<=", "NOT LIKE"); "" for the others.
const char* OperatorText(TExpOp op);

}  // namespace vevura
