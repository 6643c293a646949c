#include "engine/expr/expression_parser.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "engine/base/engine_error.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/value_text.h"
#include "platform/date_time.h"
#include "platform/locale.h"

namespace vevura {
namespace {

bool IsSymbolStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}
bool IsSymbolChar(unsigned char c) {
  return IsSymbolStart(c) || (c >= '0' && c <= '9') || c == '!' || c == '$' || c == '@';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

struct TFunctionName {
  const char* Name;
  TExpOp Op;
};
constexpr TFunctionName kFunctions[] = {
    {"ABS", TExpOp::Abs},
    {"CAST", TExpOp::Cast},
    {"COALESCE", TExpOp::Coalesce},
    {"EXTRACT", TExpOp::Extract},
    {"IDENT_CURRENT", TExpOp::IdentCurrent},
    {"LASTAUTOINC", TExpOp::LastAutoInc},
    {"IF", TExpOp::If},
    {"IFNULL", TExpOp::IfNull},
    {"LENGTH", TExpOp::Length},
    {"LOWER", TExpOp::Lower},
    {"UPPER", TExpOp::Upper},
    {"OCCURS", TExpOp::Occurs},
    {"POS", TExpOp::Pos},
    {"REPLACE", TExpOp::Replace},
    {"ROUND", TExpOp::Round},
    {"SUBSTRING", TExpOp::Substring},
    {"TEXTOCCURS", TExpOp::TextOccurs},
    {"TEXTSEARCH", TExpOp::TextSearch},
    {"TRIM", TExpOp::Trim},
};
constexpr TFunctionName kAggregates[] = {
    {"AVG", TExpOp::Avg}, {"COUNT", TExpOp::Count},   {"MAX", TExpOp::Max},
    {"MIN", TExpOp::Min}, {"RUNSUM", TExpOp::RunSum}, {"SUM", TExpOp::Sum},
};
constexpr const char* kExtractParts[] = {"YEAR",      "MONTH", "WEEK",   "DAY",   "DAYOFWEEK",
                                         "DAYOFYEAR", "HOUR",  "MINUTE", "SECOND"};

// Type classes of the operand rules.
bool IsStr(uint8_t t, uint8_t s) {
  return t == fcString || (t == fcBlob && s == fsMemo);
}
bool IsNum(uint8_t t) {
  return t == fcSmallInt || t == fcInteger || t == fcFloat || t == fcBCD || t == fcWord ||
         t == fcLargeInt;
}
bool IsInt(uint8_t t) {
  return t == fcSmallInt || t == fcInteger || t == fcWord || t == fcLargeInt;
}
bool IsDateOrStamp(uint8_t t) {
  return t == fcDate || t == fcTimeStamp;
}
bool IsTemporal(uint8_t t) {
  return t == fcDate || t == fcTime || t == fcTimeStamp;
}
bool IsComparison(TExpOp op) {
  return op >= TExpOp::Equal && op <= TExpOp::GreaterEqual;
}

std::unique_ptr<TExpToken> MakeNode(TExpKind kind, TExpOp op, std::string text) {
  auto node = std::make_unique<TExpToken>();
  node->Kind = kind;
  node->Op = op;
  node->Text = std::move(text);
  return node;
}

std::unique_ptr<TExpToken> MakeBinary(TExpOp op, std::string text, std::unique_ptr<TExpToken> left,
                                      std::unique_ptr<TExpToken> right) {
  auto node = MakeNode(TExpKind::Binary, op, std::move(text));
  node->Left = std::move(left);
  node->Right = std::move(right);
  return node;
}

}  // namespace

bool BinaryOperandsAccepted(TExpOp op, uint8_t lt, uint8_t ls, uint8_t rt, uint8_t rs) {
  if (lt == fcNone || rt == fcNone) return true;
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::NotEqual:
      return (IsStr(lt, ls) && IsStr(rt, rs)) || (IsDateOrStamp(lt) && IsDateOrStamp(rt)) ||
             (IsNum(lt) && IsNum(rt)) ||
             (lt == rt && (lt == fcBoolean || lt == fcBytes || lt == fcTime));
    case TExpOp::Less:
    case TExpOp::LessEqual:
    case TExpOp::Greater:
    case TExpOp::GreaterEqual:
      return (IsStr(lt, ls) && IsStr(rt, rs)) || (IsDateOrStamp(lt) && IsDateOrStamp(rt)) ||
             (IsNum(lt) && IsNum(rt)) || (lt == fcTime && rt == fcTime);
    case TExpOp::And:
    case TExpOp::Or:
      return lt == fcBoolean && rt == fcBoolean;
    case TExpOp::Add:
      return (IsStr(lt, ls) && IsStr(rt, rs)) || (IsTemporal(lt) && IsInt(rt)) ||
             (IsInt(lt) && (IsNum(rt) || IsTemporal(rt))) ||
             ((lt == fcFloat || lt == fcBCD) && IsNum(rt));
    case TExpOp::Subtract:
      if (lt == fcDate) return rt == fcDate || IsInt(rt);
      if (lt == fcTime) return rt == fcTime || IsInt(rt);
      if (lt == fcTimeStamp) return IsTemporal(rt) || IsInt(rt);
      return IsNum(lt) && IsNum(rt);
    case TExpOp::Multiply:
    case TExpOp::Divide:
      return IsNum(lt) && IsNum(rt);
    default:
      return false;
  }
}

TExpressionParser::TExpressionParser(uint16_t error_code, std::string what_name,
                                     std::string table_name)
    : error_code_(error_code), what_(std::move(what_name)), table_(std::move(table_name)) {}

void TExpressionParser::Fail(const std::string& message) const {
  RaiseEngineError(error_code_, "", "", "", table_, "", "", message + " in " + what_);
}

void TExpressionParser::FailFound(const std::string& message) const {
  Fail(message + TokenText() + "'");
}

void TExpressionParser::Expect(bool ok, const std::string& message) {
  if (!ok) FailFound(message);
}

void TExpressionParser::SetText(const std::string& text) {
  text_ = text;
  pos_ = 0;
  start_ = 0;
  kind_ = TLexToken::End;
}

void TExpressionParser::SkipBlanksAndComments() {
  for (;;) {
    while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) < 33) ++pos_;
    if (pos_ + 1 < text_.size() && text_[pos_] == '/' && text_[pos_ + 1] == '*') {
      const size_t end = text_.find("*/", pos_ + 2);
      if (end == std::string::npos) {
        start_ = pos_ = text_.size();
        kind_ = TLexToken::End;
        Fail("Missing ending comment slash and asterisk");
      }
      pos_ = end + 2;
      continue;
    }
    return;
  }
}

TLexToken TExpressionParser::NextToken() {
  SkipBlanksAndComments();
  start_ = pos_;
  if (pos_ >= text_.size()) return kind_ = TLexToken::End;
  const unsigned char c = static_cast<unsigned char>(text_[pos_]);
  if (IsSymbolStart(c)) {
    while (pos_ < text_.size() && IsSymbolChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return kind_ = TLexToken::Symbol;
  }
  if (c == '[') {
    const size_t end = text_.find(']', pos_ + 1);
    if (end == std::string::npos) {
      pos_ = text_.size();
      kind_ = TLexToken::BracketedName;
      Fail("Missing right bracket after '" + text_.substr(start_ + 1) + "'");
    }
    pos_ = end + 1;
    return kind_ = TLexToken::BracketedName;
  }
  if (c == '\'' || c == '"') {
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) {
        kind_ = c == '\'' ? TLexToken::String : TLexToken::QuotedName;
        Fail(std::string(c == '\'' ? "Missing single quote after '"
                                   : "Missing double quote after '") +
             TokenText() + "'");
      }
      if (text_[pos_] == static_cast<char>(c)) {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == static_cast<char>(c)) {
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      ++pos_;
    }
    return kind_ = c == '\'' ? TLexToken::String : TLexToken::QuotedName;
  }
  if (c == '#' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1])) {
    ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    return kind_ = TLexToken::Character;
  }
  const bool starts_number = IsDigit(static_cast<char>(c)) ||
                             (c == '.' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]));
  if (starts_number) {
    bool real = false;
    while (pos_ < text_.size()) {
      const char d = text_[pos_];
      if (IsDigit(d)) {
        ++pos_;
      } else if (d == '.' || d == 'E' || d == 'e') {
        real = true;
        ++pos_;
        if ((d == 'E' || d == 'e') && pos_ < text_.size() &&
            (text_[pos_] == '+' || text_[pos_] == '-'))
          ++pos_;
      } else {
        break;
      }
    }
    return kind_ = real ? TLexToken::Real : TLexToken::Integer;
  }
  ++pos_;
  return kind_ = TLexToken::Single;
}

std::string TExpressionParser::TokenText() const {
  const std::string raw = text_.substr(start_, pos_ - start_);
  switch (kind_) {
    case TLexToken::BracketedName:
      return raw.size() >= 2 && raw.back() == ']' ? raw.substr(1, raw.size() - 2) : raw.substr(1);
    case TLexToken::String:
    case TLexToken::QuotedName: {
      const char quote = raw[0];
      std::string inner = raw.substr(1);
      // A closed token ends in a quote that is not half of a doubled pair.
      size_t quotes_at_end = 0;
      while (quotes_at_end < inner.size() && inner[inner.size() - 1 - quotes_at_end] == quote)
        ++quotes_at_end;
      if (quotes_at_end % 2 == 1) inner.pop_back();
      std::string text;
      for (size_t i = 0; i < inner.size(); ++i) {
        text += inner[i];
        if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote) ++i;
      }
      return text;
    }
    default:
      return raw;
  }
}

bool TExpressionParser::IsKeyword(const char* word) const {
  return kind_ == TLexToken::Symbol && platform::SameTextSystem(TokenText(), word);
}

bool TExpressionParser::IsSymbol(char c) const {
  return kind_ == TLexToken::Single && text_[start_] == c;
}

bool TExpressionParser::IsAdjacentSymbol(char c) const {
  return pos_ < text_.size() && text_[pos_] == c;
}

bool TExpressionParser::NextIsLeftParen() {
  size_t p = pos_;
  while (p < text_.size() && static_cast<unsigned char>(text_[p]) < 33) ++p;
  return p < text_.size() && text_[p] == '(';
}

std::unique_ptr<TExpToken> TExpressionParser::ParseText(const std::string& text, uint32_t options) {
  SetText(text);
  NextToken();
  auto tree = ParseExpression(options);
  if (kind_ != TLexToken::End) FailFound("Unknown or unexpected symbol '");
  return tree;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseExpression(uint32_t options) {
  options_ = options;
  return ParseOr();
}

std::unique_ptr<TExpToken> TExpressionParser::ParseOr() {
  auto left = ParseAnd();
  while (IsKeyword("OR")) {
    NextToken();
    left = MakeBinary(TExpOp::Or, "OR", std::move(left), ParseAnd());
  }
  return left;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseAnd() {
  auto left = ParseNot();
  while (IsKeyword("AND")) {
    NextToken();
    left = MakeBinary(TExpOp::And, "AND", std::move(left), ParseNot());
  }
  return left;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseNot() {
  if (IsKeyword("NOT")) {
    NextToken();
    auto node = MakeNode(TExpKind::Unary, TExpOp::Not, "NOT");
    node->Left = ParsePredicate();
    return node;
  }
  return ParsePredicate();
}

std::unique_ptr<TExpToken> TExpressionParser::ParsePredicate() {
  auto left = ParseSum();
  // Comparison operators.
  TExpOp op = TExpOp::None;
  std::string op_text;
  if (IsSymbol('=')) {
    op = TExpOp::Equal, op_text = "=";
  } else if (IsSymbol('<')) {
    if (IsAdjacentSymbol('>')) {
      ++pos_, op = TExpOp::NotEqual, op_text = "<>";
    } else if (IsAdjacentSymbol('=')) {
      ++pos_, op = TExpOp::LessEqual, op_text = "<=";
    } else {
      op = TExpOp::Less, op_text = "<";
    }
  } else if (IsSymbol('>')) {
    if (IsAdjacentSymbol('=')) {
      ++pos_, op = TExpOp::GreaterEqual, op_text = ">=";
    } else {
      op = TExpOp::Greater, op_text = ">";
    }
  }
  if (op != TExpOp::None) {
    NextToken();
    return MakeBinary(op, op_text, std::move(left), ParseSum());
  }
  // Extended predicates, possibly negated.
  bool negated = false;
  if (IsKeyword("NOT")) {
    const size_t saved_pos = pos_, saved_start = start_;
    NextToken();
    if (!IsKeyword("LIKE") && !IsKeyword("BETWEEN") && !IsKeyword("IN")) {
      pos_ = saved_pos, start_ = saved_start, kind_ = TLexToken::Symbol;
      return left;
    }
    negated = true;
  }
  const bool is_like = IsKeyword("LIKE"), is_between = IsKeyword("BETWEEN"),
             is_in = IsKeyword("IN"), is_is = !negated && IsKeyword("IS");
  if (!is_like && !is_between && !is_in && !is_is) return left;
  if (!(options_ & poExtendedPredicates))
    Fail("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed");
  if (is_is) {
    NextToken();
    bool is_not = false;
    if (IsKeyword("NOT")) {
      is_not = true;
      NextToken();
    }
    if (!IsKeyword("NULL")) Fail("Unknown or unexpected symbol '" + TokenText() + "' found");
    NextToken();
    auto null_constant = MakeNode(TExpKind::Constant, TExpOp::None, "NULL");
    return MakeBinary(is_not ? TExpOp::NotEqual : TExpOp::Equal, is_not ? "<>" : "=",
                      std::move(left), std::move(null_constant));
  }
  const std::string prefix = negated ? "NOT " : "";
  TExpOp pred = is_like      ? (negated ? TExpOp::NotLike : TExpOp::Like)
                : is_between ? (negated ? TExpOp::NotBetween : TExpOp::Between)
                             : (negated ? TExpOp::NotIn : TExpOp::In);
  auto node = MakeNode(TExpKind::Predicate, pred,
                       prefix + (is_like      ? "LIKE"
                                 : is_between ? "BETWEEN"
                                              : "IN"));
  node->Left = std::move(left);
  NextToken();
  if (is_like) {
    node->Args.push_back(ParseSum());
  } else if (is_between) {
    node->Args.push_back(ParseSum());
    Expect(IsKeyword("AND"),
           "Expected AND operator in " + prefix + "BETWEEN operator, instead found '");
    NextToken();
    node->Args.push_back(ParseSum());
  } else {
    Expect(IsSymbol('('),
           "Expected left parentheses for " + prefix + "IN operator, instead found '");
    NextToken();
    if (IsSymbol(')'))
      Fail("You must provide at least one value as an operand of the " + prefix + "IN operator ");
    if (IsKeyword("SELECT")) {
      if (!(options_ & poSubSelects)) Fail("Sub-select queries are not allowed");
      FailFound("Unknown or unexpected symbol '");
    }
    for (;;) {
      node->Args.push_back(ParseSum());
      if (!IsSymbol(',')) break;
      NextToken();
    }
    Expect(IsSymbol(')'),
           "Expected right parentheses for " + prefix + "IN operator, instead found '");
    NextToken();
  }
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseSum() {
  auto left = ParseProduct();
  for (;;) {
    if (IsSymbol('+')) {
      NextToken();
      left = MakeBinary(TExpOp::Add, "+", std::move(left), ParseProduct());
    } else if (IsSymbol('-')) {
      NextToken();
      left = MakeBinary(TExpOp::Subtract, "-", std::move(left), ParseProduct());
    } else if (IsSymbol('|')) {
      NextToken();
      Expect(IsSymbol('|'),
             "Second concatenation symbol '|' expected after first concatentation symbol, instead "
             "found '");
      NextToken();
      left = MakeBinary(TExpOp::Add, "||", std::move(left), ParseProduct());
    } else {
      return left;
    }
  }
}

std::unique_ptr<TExpToken> TExpressionParser::ParseProduct() {
  auto left = ParseFactor();
  for (;;) {
    if (IsSymbol('*')) {
      NextToken();
      left = MakeBinary(TExpOp::Multiply, "*", std::move(left), ParseFactor());
    } else if (IsSymbol('/')) {
      NextToken();
      left = MakeBinary(TExpOp::Divide, "/", std::move(left), ParseFactor());
    } else {
      return left;
    }
  }
}

std::unique_ptr<TExpToken> TExpressionParser::ParseFactor() {
  if (IsSymbol('+') || IsSymbol('-')) {
    const bool minus = IsSymbol('-');
    NextToken();
    auto node = MakeNode(TExpKind::Unary, minus ? TExpOp::Negate : TExpOp::Plus, minus ? "-" : "+");
    node->Left = ParsePrimary();
    return node;
  }
  return ParsePrimary();
}

std::unique_ptr<TExpToken> TExpressionParser::ParseConstant() {
  auto node = MakeNode(TExpKind::Constant, TExpOp::None, TokenText());
  const std::string text = node->Text;
  switch (kind_) {
    case TLexToken::String:
      node->SetString(text);
      break;
    case TLexToken::Character: {
      int value = 0;
      auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), value);
      if (ec == std::errc::result_out_of_range || (ec == std::errc() && (value < 0 || value > 255)))
        Fail("Character constants (#) must be within the range of 0 to 255");
      if (ec != std::errc() || end != text.data() + text.size())
        Fail("Internal character constant parse error");
      node->SetString(std::string(1, static_cast<char>(value)));
      node->IsNull = false;  // #0 is a character, not the empty string
      node->Value = {static_cast<uint8_t>(value), 0};
      node->Size = 2;
      break;
    }
    case TLexToken::Integer: {
      int64_t value = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (ec == std::errc() && end == text.data() + text.size()) {
        if (value <= std::numeric_limits<int32_t>::max())
          node->SetInteger(static_cast<int32_t>(value));
        else
          node->SetLargeInt(value);
        break;
      }
      [[fallthrough]];
    }
    case TLexToken::Real: {
      double value = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (ec != std::errc() || end != text.data() + text.size())
        Fail("Constant '" + text + "' is not a valid number ");
      node->SetFloat(value);
      break;
    }
    default:
      break;
  }
  NextToken();
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParsePrimary() {
  switch (kind_) {
    case TLexToken::String:
    case TLexToken::Character:
    case TLexToken::Integer:
    case TLexToken::Real:
      return ParseConstant();
    case TLexToken::Single: {
      if (IsSymbol('(')) {
        NextToken();
        auto inner = ParseOr();
        Expect(IsSymbol(')'), "Right parentheses expected, instead found '");
        NextToken();
        return inner;
      }
      if (IsSymbol('*')) {
        if (!(options_ & poAllColumns)) Fail("* (all columns) symbol is not allowed");
        NextToken();
        return MakeNode(TExpKind::Field, TExpOp::AllColumns, "*");
      }
      if (IsSymbol('?') || IsSymbol(':')) Fail("Parameters are not allowed");
      FailFound("Unknown or unexpected symbol '");
    }
    case TLexToken::Symbol: {
      const std::string word = Upper(TokenText());
      if (word == "TRUE" || word == "FALSE") {
        auto node = MakeNode(TExpKind::Constant, TExpOp::None, TokenText());
        node->SetBoolean(word == "TRUE");
        NextToken();
        return node;
      }
      if (word == "NULL") {
        auto node = MakeNode(TExpKind::Constant, TExpOp::None, TokenText());
        NextToken();
        return node;
      }
      if (word == "CURRENT_DATE" || word == "CURRENT_TIME" || word == "CURRENT_TIMESTAMP") {
        auto node = MakeNode(TExpKind::Constant, TExpOp::None, TokenText());
        const double now = platform::Now();
        if (word == "CURRENT_DATE") node->SetDate(DayNumberFromDayCount(now));
        if (word == "CURRENT_TIME") node->SetTime(MillisecondsFromDayCount(now));
        if (word == "CURRENT_TIMESTAMP") node->SetTimeStamp(TimeStampFromDayCount(now));
        NextToken();
        if (IsSymbol('(')) {
          NextToken();
          Expect(IsSymbol(')'), "Right parentheses expected after first " + word +
                                    " function parentheses, instead found '");
          NextToken();
        }
        return node;
      }
      // The operator words cannot name a field unless bracketed or quoted.
      for (const char* reserved : {"AND", "OR", "NOT", "LIKE", "IN", "BETWEEN", "IS"}) {
        if (word == reserved) FailFound("Unknown or unexpected symbol '");
      }
      if (word == "SELECT") {
        if (!(options_ & poSubSelects)) Fail("Sub-select queries are not allowed");
        FailFound("Unknown or unexpected symbol '");
      }
      for (const auto& f : kFunctions) {
        if (word == f.Name) return ParseFunction(f.Op, f.Name);
      }
      if (NextIsLeftParen()) {
        for (const auto& f : kAggregates) {
          if (word != f.Name) continue;
          if (!(options_ & poAggregates)) Fail("Aggregate functions are not allowed");
          return ParseFunction(f.Op, f.Name);
        }
        FailFound("Unknown or unexpected function '");
      }
      [[fallthrough]];
    }
    case TLexToken::BracketedName:
    case TLexToken::QuotedName: {
      auto node = MakeNode(TExpKind::Field, TExpOp::None, TokenText());
      NextToken();
      if (IsSymbol('.')) {
        NextToken();
        if (kind_ != TLexToken::Symbol && kind_ != TLexToken::BracketedName &&
            kind_ != TLexToken::QuotedName && kind_ != TLexToken::String)
          FailFound(
              "Symbol or string expression expected after table correlation name separator '.', "
              "instead found '");
        node->Correlation = node->Text;
        node->Text = TokenText();
        NextToken();
      }
      return node;
    }
    case TLexToken::End:
      FailFound("Unknown or unexpected symbol '");
  }
  FailFound("Unknown or unexpected symbol '");
}

std::unique_ptr<TExpToken> TExpressionParser::ParseFunction(TExpOp op, const std::string& name) {
  auto node = MakeNode(TExpKind::Function, op, name);
  NextToken();
  Expect(IsSymbol('('), "Left parentheses expected after " + name + " keyword, instead found '");
  NextToken();
  auto keyword = [&](const char* word, const std::string& message) {
    Expect(IsKeyword(word), message);
    NextToken();
  };
  std::string closing =
      "Right parentheses expected after " + name + " function arguments, instead found '";
  switch (op) {
    case TExpOp::Abs:
    case TExpOp::IdentCurrent:
    case TExpOp::LastAutoInc:
    case TExpOp::Length:
    case TExpOp::Lower:
    case TExpOp::Upper:
    case TExpOp::Avg:
    case TExpOp::Max:
    case TExpOp::Min:
    case TExpOp::RunSum:
    case TExpOp::Sum:
      closing = "Right parentheses expected after " + name + " function argument, instead found '";
      node->Args.push_back(ParseOr());
      break;
    case TExpOp::Count:
      closing = "Right parentheses expected after " + name + " function argument, instead found '";
      if (IsSymbol('*')) {
        node->Args.push_back(MakeNode(TExpKind::Field, TExpOp::AllColumns, "*"));
        NextToken();
      } else {
        node->Args.push_back(ParseOr());
      }
      break;
    case TExpOp::TextOccurs:
    case TExpOp::TextSearch:
      closing = "Right parentheses expected after " + name + " function argument, instead found '";
      [[fallthrough]];
    case TExpOp::Occurs:
    case TExpOp::Pos:
      node->Args.push_back(ParseSum());
      keyword("IN",
              "IN keyword expected after first " + name + " function argument, instead found '");
      node->Args.push_back(ParseOr());
      break;
    case TExpOp::Cast:
      node->Args.push_back(ParseOr());
      keyword("AS", "AS keyword expected after first CAST function argument, instead found '");
      ParseCastType(*node);
      break;
    case TExpOp::Coalesce:
      closing = "Expected right parentheses after COALESCE expression arguments, instead found '";
      if (IsSymbol(')'))
        Fail("You must provide at least one value as an argument of the COALESCE operator ");
      for (;;) {
        node->Args.push_back(ParseOr());
        if (!IsSymbol(',')) break;
        NextToken();
      }
      break;
    case TExpOp::Extract: {
      int part = -1;
      for (int i = 0; i < 9; ++i) {
        if (IsKeyword(kExtractParts[i])) part = i;
      }
      if (part < 0)
        FailFound(
            "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword "
            "expected "
            "after EXTRACT keyword, instead found '");
      node->Option = part;
      NextToken();
      keyword("FROM",
              "FROM keyword expected after second EXTRACT function argument, instead found '");
      node->Args.push_back(ParseOr());
      break;
    }
    case TExpOp::If:
    case TExpOp::IfNull: {
      node->Args.push_back(ParseOr());
      const bool with_keywords = IsKeyword("THEN");
      Expect(with_keywords || IsSymbol(','), "THEN keyword or comma expected after first " + name +
                                                 " function argument, instead found '");
      NextToken();
      node->Args.push_back(ParseOr());
      Expect(with_keywords ? IsKeyword("ELSE") : IsSymbol(','),
             "ELSE keyword or comma expected after second " + name +
                 " function argument, instead found '");
      NextToken();
      node->Args.push_back(ParseOr());
      break;
    }
    case TExpOp::Replace:
      node->Args.push_back(ParseSum());
      keyword("WITH",
              "WITH keyword expected after first REPLACE function argument, instead found '");
      node->Args.push_back(ParseSum());
      keyword("IN", "IN keyword expected after second REPLACE function argument, instead found '");
      node->Args.push_back(ParseOr());
      break;
    case TExpOp::Round:
      node->Args.push_back(ParseOr());
      if (IsKeyword("TO")) {
        NextToken();
        node->Args.push_back(ParseOr());
      }
      break;
    case TExpOp::Substring:
      node->Args.push_back(ParseOr());
      keyword("FROM",
              "FROM keyword expected after first SUBSTRING function argument, instead found '");
      node->Args.push_back(ParseOr());
      if (IsKeyword("FOR")) {
        NextToken();
        node->Args.push_back(ParseOr());
      }
      break;
    case TExpOp::Trim:
      if (IsKeyword("LEADING")) {
        node->Option = tmLeading;
      } else if (IsKeyword("TRAILING")) {
        node->Option = tmTrailing;
      } else if (IsKeyword("BOTH")) {
        node->Option = tmBoth;
      } else {
        FailFound(
            "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
      }
      NextToken();
      node->Args.push_back(ParseOr());
      keyword("FROM", "FROM keyword expected after second TRIM function argument, instead found '");
      node->Args.push_back(ParseOr());
      break;
    default:
      break;
  }
  Expect(IsSymbol(')'), closing);
  NextToken();
  return node;
}

int TExpressionParser::ReadTypeArgument(const std::string& message) {
  int value = 0;
  const std::string text = TokenText();
  if (kind_ != TLexToken::Integer) Fail(message);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    value = std::numeric_limits<int>::max();
  NextToken();
  return value;
}

void TExpressionParser::ParseCastType(TExpToken& cast) {
  const std::string word = Upper(TokenText());
  auto is = [&](std::initializer_list<const char*> words) {
    if (kind_ != TLexToken::Symbol) return false;
    for (const char* w : words) {
      if (word == w) return true;
    }
    return false;
  };
  auto right_paren = [&](const std::string& message) {
    Expect(IsSymbol(')'), message);
    NextToken();
  };
  cast.Subtype = fsNone;
  cast.Size = 0;
  cast.Scale = 0;
  if (is({"SMALLINT"})) {
    cast.Type = fcSmallInt;
  } else if (is({"WORD"})) {
    cast.Type = fcWord;
  } else if (is({"INTEGER", "INT"})) {
    cast.Type = fcInteger;
  } else if (is({"LARGEINT"})) {
    cast.Type = fcLargeInt;
  } else if (is({"AUTOINC"})) {
    cast.Type = fcInteger, cast.Subtype = fsAutoInc;
  } else if (is({"MONEY"})) {
    cast.Type = fcFloat, cast.Subtype = fsMoney;
  } else if (is({"DATE"})) {
    cast.Type = fcDate;
  } else if (is({"TIME"})) {
    cast.Type = fcTime;
  } else if (is({"TIMESTAMP"})) {
    cast.Type = fcTimeStamp;
  } else if (is({"BOOLEAN", "BOOL", "BIT"})) {
    cast.Type = fcBoolean;
  } else if (is({"LONGVARBINARY"})) {
    cast.Type = fcBlob, cast.Subtype = fsBinary;
  } else if (is({"LONGVARCHAR", "MEMO"})) {
    cast.Type = fcBlob, cast.Subtype = fsMemo;
  } else if (is({"GRAPHIC"})) {
    cast.Type = fcBlob, cast.Subtype = fsGraphic;
  } else if (is({"CHAR", "CHARACTER", "VARCHAR", "BYTES", "VARBYTES", "BINARY", "VARBINARY"})) {
    const bool chars = is({"CHAR", "CHARACTER", "VARCHAR"});
    cast.Type = chars ? fcString : fcBytes;
    NextToken();
    Expect(IsSymbol('('),
           "Left parentheses expected after " + word + " data type, instead found '");
    NextToken();
    const int length = ReadTypeArgument("Length argument must be an integer");
    if (length < 1 || length > kMaxDeclaredSize)
      Fail("Length argument must be an integer greater than 0 and less than or equal to 250");
    cast.Size = chars ? length + 1 : length;
    right_paren("Right parentheses expected after " + word +
                " data type arguments, instead found '");
    return;
  } else if (is({"DECIMAL", "NUMERIC", "FLOAT"})) {
    const bool bcd = word != "FLOAT";
    cast.Type = bcd ? fcBCD : fcFloat;
    NextToken();
    if (!IsSymbol('(')) return;
    NextToken();
    cast.Size = ReadTypeArgument("Length argument must be an integer");
    if (!IsSymbol(')')) {
      Expect(IsSymbol(','), "Comma expected after first " + word + " argument, instead found '");
      NextToken();
      cast.Scale = ReadTypeArgument("Scale argument must be an integer");
      if (bcd && (cast.Scale < 0 || cast.Scale > 4))
        Fail(
            "Scale argument must be an integer less than or equal to 4 but greater than or equal "
            "to 0 "
            "for the BCD data type ");
    }
    right_paren("Right parentheses expected after " + word +
                " data type arguments, instead found '");
    return;
  } else if (is({"BLOB"})) {
    cast.Type = fcBlob, cast.Subtype = fsBinary;
    NextToken();
    if (!IsSymbol('(')) return;
    NextToken();
    ReadTypeArgument("First BLOB type argument must be an integer");
    Expect(IsSymbol(','), "Comma expected after first BLOB argument, instead found '");
    NextToken();
    const int kind = ReadTypeArgument("BLOB type argument must be an integer");
    if (kind != 1 && kind != 2 && kind != 3 && kind != 5 && kind != 7)
      Fail("BLOB type argument must be an integer with a value of 1,2,3,5, or 7");
    cast.Subtype = static_cast<uint8_t>(21 + kind);
    right_paren("Right parentheses expected after BLOB data type arguments, instead found '");
    return;
  } else {
    FailFound("SQL data type keyword expected, instead found '");
  }
  NextToken();
}

// ---- Resolution and type checking ----

std::string TExpressionParser::Kind(const TExpToken& node) const {
  switch (node.Kind) {
    case TExpKind::Field:
      return "column";
    case TExpKind::Constant:
      return "constant";
    case TExpKind::Function:
      return "function";
    default:
      return "expression";
  }
}

void TExpressionParser::ResolveExpression(TExpToken& tree,
                                          const std::vector<TFieldDescriptor>& fields) {
  Resolve(tree, fields);
}

void TExpressionParser::Resolve(TExpToken& node, const std::vector<TFieldDescriptor>& fields) {
  if (node.Left) Resolve(*node.Left, fields);
  if (node.Right) Resolve(*node.Right, fields);
  for (auto& arg : node.Args) Resolve(*arg, fields);
  if (node.Kind == TExpKind::Field && node.Op != TExpOp::AllColumns) {
    const TFieldDescriptor* found = nullptr;
    const size_t slash = table_.find_last_of('/');
    const std::string base = slash == std::string::npos ? table_ : table_.substr(slash + 1);
    const bool correlation_ok = node.Correlation.empty() ||
                                platform::SameTextSystem(node.Correlation, table_) ||
                                platform::SameTextSystem(node.Correlation, base);
    if (correlation_ok) {
      for (const auto& field : fields) {
        if (platform::SameTextSystem(field.Name, node.Text)) {
          found = &field;
          break;
        }
      }
    }
    if (!found)
      Fail("Invalid column name '" + node.Text + "' or table correlation name '" +
           node.Correlation + "' specified");
    node.FieldNumber = found->FieldNumber;
    node.Type = found->Type;
    node.Subtype = found->Subtype;
    node.Size = found->Type == fcString ? found->Size + 1 : found->Size;
    node.Scale = found->Scale;
    return;
  }
  CheckNode(node);
}

void TExpressionParser::ConvertDateConstant(TExpToken& constant, uint8_t type) {
  if (constant.Kind != TExpKind::Constant || constant.Type != fcString || !IsTemporal(type)) return;
  if (!ValueFromText(constant.Text, type, 0, constant))
    Fail("Date, time, or timestamp expression expected, instead found '" + constant.Text + "'");
}

namespace {

// Result type of an accepted arithmetic pair, written into node.
void ArithmeticResult(TExpToken& node, const TExpToken& l, const TExpToken& r) {
  const uint8_t lt = l.Type, rt = r.Type;
  node.Subtype = fsNone;
  node.Size = 0;
  node.Scale = 0;
  if (lt == fcNone || rt == fcNone) {
    const TExpToken& other = lt == fcNone ? r : l;
    node.Type = other.Type, node.Subtype = other.Subtype, node.Size = other.Size,
    node.Scale = other.Scale;
    return;
  }
  if (node.Op == TExpOp::Add && IsStr(lt, l.Subtype)) {
    if (l.IsMemo() || r.IsMemo()) {
      node.Type = fcBlob, node.Subtype = fsMemo;
    } else {
      node.Type = fcString, node.Size = l.Size + r.Size - 1;
    }
    return;
  }
  if (IsTemporal(lt) || IsTemporal(rt)) {
    if (node.Op == TExpOp::Subtract && IsTemporal(rt)) {
      node.Type = lt == fcTimeStamp && rt == fcTimeStamp ? fcFloat : fcInteger;
    } else {
      node.Type = IsTemporal(lt) ? lt : rt;
    }
    return;
  }
  if (lt == fcFloat || rt == fcFloat || (node.Op == TExpOp::Divide && IsInt(lt) && IsInt(rt))) {
    node.Type = fcFloat;
  } else if (lt == fcBCD || rt == fcBCD) {
    node.Type = fcBCD, node.Scale = std::max(lt == fcBCD ? l.Scale : 0, rt == fcBCD ? r.Scale : 0);
  } else if (lt == fcLargeInt || rt == fcLargeInt) {
    node.Type = fcLargeInt;
  } else {
    node.Type = fcInteger;
  }
}

bool CastAccepts(uint8_t target, uint8_t source) {
  if (source == fcNone) return true;
  const bool text_or_bytes = source == fcString || source == fcBytes || source == fcVarBytes;
  switch (target) {
    case fcString:
    case fcBlob:
    case fcBytes:
    case fcVarBytes:
      return true;
    case fcDate:
      return text_or_bytes || source == fcDate || source == fcTimeStamp;
    case fcTime:
      return text_or_bytes || source == fcTime || source == fcTimeStamp;
    case fcTimeStamp:
      return text_or_bytes || IsTemporal(source);
    case fcBoolean:
      return text_or_bytes || source == fcBoolean || (IsNum(source) && source != fcFloat);
    case fcSmallInt:
    case fcWord:
      return text_or_bytes || source == fcBoolean || IsNum(source);
    case fcInteger:
    case fcFloat:
    case fcBCD:
    case fcLargeInt:
      return text_or_bytes || IsNum(source);
    default:
      return false;
  }
}

}  // namespace

void TExpressionParser::CheckNode(TExpToken& node) {
  switch (node.Kind) {
    case TExpKind::Unary: {
      TExpToken& operand = *node.Left;
      const bool ok = operand.Type == fcNone ||
                      (node.Op == TExpOp::Not ? operand.Type == fcBoolean : IsNum(operand.Type));
      if (!ok)
        Fail("Type mismatch between '" + node.Text + "' operator and '" + operand.Text + "'");
      node.Type = node.Op == TExpOp::Not ? uint8_t{fcBoolean} : operand.Type;
      node.Subtype = operand.Subtype, node.Size = operand.Size, node.Scale = operand.Scale;
      return;
    }
    case TExpKind::Binary: {
      TExpToken& l = *node.Left;
      TExpToken& r = *node.Right;
      if (IsComparison(node.Op)) {
        ConvertDateConstant(r, l.Type);
        ConvertDateConstant(l, r.Type);
      }
      if (!BinaryOperandsAccepted(node.Op, l.Type, l.Subtype, r.Type, r.Subtype))
        Fail("Type mismatch between " + Kind(l) + " '" + l.Text + "' and " + Kind(r) + " '" +
             r.Text + "'");
      if (IsComparison(node.Op) || node.Op == TExpOp::And || node.Op == TExpOp::Or) {
        node.Type = fcBoolean;
      } else {
        ArithmeticResult(node, l, r);
      }
      return;
    }
    case TExpKind::Predicate: {
      TExpToken& l = *node.Left;
      const bool like = node.Op == TExpOp::Like || node.Op == TExpOp::NotLike;
      const TExpOp pairing =
          node.Op == TExpOp::In || node.Op == TExpOp::NotIn ? TExpOp::Equal : TExpOp::GreaterEqual;
      auto mismatch = [&](const TExpToken& operand) {
        Fail("Type mismatch between " + node.Text + " operator and expression '" + operand.Text +
             "'");
      };
      if (like) {
        if (l.Type != fcNone && !IsStr(l.Type, l.Subtype)) mismatch(l);
        const TExpToken& pattern = *node.Args[0];
        if (pattern.Type != fcNone && pattern.Type != fcString) mismatch(pattern);
      } else {
        for (auto& value : node.Args) {
          ConvertDateConstant(*value, l.Type);
          if (!BinaryOperandsAccepted(pairing, l.Type, l.Subtype, value->Type, value->Subtype))
            mismatch(*value);
        }
      }
      node.Type = fcBoolean;
      return;
    }
    case TExpKind::Function:
      CheckFunction(node);
      return;
    default:
      return;
  }
}

void TExpressionParser::CheckFunction(TExpToken& node) {
  auto& args = node.Args;
  auto type_of = [&](size_t i) { return args[i]->Type; };
  auto str = [&](size_t i) { return type_of(i) == fcNone || IsStr(type_of(i), args[i]->Subtype); };
  auto plain_str = [&](size_t i) { return type_of(i) == fcNone || type_of(i) == fcString; };
  auto integer = [&](size_t i) { return type_of(i) == fcNone || IsInt(type_of(i)); };
  auto take_type = [&](const TExpToken& from) {
    node.Type = from.Type, node.Subtype = from.Subtype, node.Size = from.Size,
    node.Scale = from.Scale;
  };
  auto require = [&](bool ok, const std::string& message) {
    if (!ok) Fail(message);
  };
  const std::string& name = node.Text;
  switch (node.Op) {
    case TExpOp::Abs:
      require(
          type_of(0) == fcNone || IsNum(type_of(0)),
          "Expression argument of ABS function must be an integer, floating-point, or BCD type");
      take_type(*args[0]);
      return;
    case TExpOp::Cast:
      if (!CastAccepts(node.Type, type_of(0)))
        Fail("Type mismatch between " + Kind(*args[0]) + " '" + args[0]->Text +
             "' and AS argument");
      return;
    case TExpOp::If:
    case TExpOp::IfNull:
    case TExpOp::Coalesce: {
      if (node.Op == TExpOp::If)
        require(type_of(0) == fcNone || type_of(0) == fcBoolean,
                "First expression argument of IF function must be a boolean type");
      const size_t first = node.Op == TExpOp::Coalesce ? 0 : 1;
      const TExpToken* chosen = nullptr;
      int32_t size = 0;
      bool memo = false;
      for (size_t i = first; i < args.size(); ++i) {
        for (size_t j = first; j < i; ++j) {
          if (!BinaryOperandsAccepted(TExpOp::Equal, args[j]->Type, args[j]->Subtype, args[i]->Type,
                                      args[i]->Subtype))
            Fail("Type mismatch between " + name + " expression arguments");
        }
        if (args[i]->Type != fcNone && !chosen) chosen = args[i].get();
        size = std::max(size, args[i]->Size);
        memo = memo || args[i]->IsMemo();
      }
      if (!chosen)
        RaiseEngineError(error_code_, "", "", "", table_, "", "",
                         "At least one of the " + name + " expression arguments in " + what_ +
                             " must be a non-NULL value");
      take_type(*chosen);
      if (IsStr(node.Type, node.Subtype)) {
        if (memo) {
          node.Type = fcBlob, node.Subtype = fsMemo, node.Size = 0;
        } else {
          node.Size = size;
        }
      }
      return;
    }
    case TExpOp::Extract: {
      TExpToken& x = *args[0];
      if (x.Kind == TExpKind::Constant && x.Type == fcString) {
        if (!ValueFromText(x.Text, fcDate, 0, x) && !ValueFromText(x.Text, fcTime, 0, x) &&
            !ValueFromText(x.Text, fcTimeStamp, 0, x))
          Fail("FROM argument of EXTRACT function must be a date, time, or timestamp");
      }
      require(x.Type == fcNone || IsTemporal(x.Type),
              "FROM argument of EXTRACT function must be a date, time, or timestamp");
      node.Type = fcInteger;
      return;
    }
    case TExpOp::IdentCurrent:
    case TExpOp::LastAutoInc:
      require(plain_str(0),
              "Type mismatch between " + name + " function and table name function argument");
      require(args[0]->Kind == TExpKind::Constant,
              name + " table name function argument must be a string constant");
      node.Type = fcInteger;
      return;
    case TExpOp::Length:
      require(str(0), "Type mismatch between LENGTH function and function argument");
      node.Type = fcInteger;
      return;
    case TExpOp::Lower:
    case TExpOp::Upper:
      take_type(*args[0]);
      return;
    case TExpOp::Occurs:
    case TExpOp::Pos:
      require(str(1), "Type mismatch between " + name + " function and IN argument");
      require(plain_str(0),
              "Type mismatch between " + name + " function and search string argument");
      node.Type = fcInteger;
      return;
    case TExpOp::Replace:
      require(str(2), "IN argument of REPLACE function must be a string or memo");
      require(plain_str(0), "Type mismatch between REPLACE function and search string argument");
      require(plain_str(1),
              "Type mismatch between REPLACE function and replacement string argument");
      take_type(*args[2]);
      return;
    case TExpOp::Round:
      require(type_of(0) == fcNone || type_of(0) == fcFloat || type_of(0) == fcBCD,
              "Expression argument of ROUND function must be a floating-point or BCD type");
      if (args.size() > 1) {
        require(args[1]->Kind == TExpKind::Constant && IsInt(type_of(1)),
                "Decimal places argument of ROUND function must be an integer constant");
        const int64_t places = args[1]->AsLargeInt();
        require(places >= 0 && places <= 32,
                "Decimal places argument of ROUND function must be an integer constant between 0 "
                "and 32");
      }
      take_type(*args[0]);
      return;
    case TExpOp::Substring:
      require(str(0), "Expression argument of SUBSTRING function must be a string or memo");
      require(integer(1), "FROM argument of SUBSTRING function must be an integer value");
      if (args.size() > 2)
        require(integer(2), "FOR argument of SUBSTRING function must be an integer value");
      take_type(*args[0]);
      return;
    case TExpOp::TextOccurs:
    case TExpOp::TextSearch:
      require(str(0),
              "Type mismatch between " + name + " function and search text function argument");
      require(args[0]->Kind == TExpKind::Constant,
              name + " search text function argument must be a string constant");
      require(args[1]->Kind == TExpKind::Field,
              name + " function column argument must be a valid column name");
      require(str(1), "Type mismatch between " + name + " function and column function argument");
      node.Type = node.Op == TExpOp::TextSearch ? uint8_t{fcBoolean} : uint8_t{fcInteger};
      return;
    case TExpOp::Trim:
      require(str(1), "FROM argument of TRIM function must be a string or memo");
      require(
          args[0]->Kind == TExpKind::Constant && args[0]->Type == fcString && args[0]->Size == 2,
          "Trim character argument of TRIM function must be a single character constant");
      take_type(*args[1]);
      return;
    case TExpOp::Count:
      node.Type = fcInteger;
      return;
    case TExpOp::Avg:
      node.Type = fcFloat;
      return;
    case TExpOp::Max:
    case TExpOp::Min:
    case TExpOp::Sum:
    case TExpOp::RunSum:
      take_type(*args[0]);
      return;
    default:
      return;
  }
}

// ---- Compilation of a filter ----

namespace {

TExpOp Mirrored(TExpOp op) {
  switch (op) {
    case TExpOp::Less:
      return TExpOp::Greater;
    case TExpOp::LessEqual:
      return TExpOp::GreaterEqual;
    case TExpOp::Greater:
      return TExpOp::Less;
    case TExpOp::GreaterEqual:
      return TExpOp::LessEqual;
    default:
      return op;
  }
}

// Folds a field-free operand that is a constant, possibly under unary + or -.
// Other field-free operands are left for evaluation.
std::unique_ptr<TExpToken> Fold(std::unique_ptr<TExpToken> node) {
  if (node->Kind != TExpKind::Unary || node->Op == TExpOp::Not || !node->Left ||
      node->Left->Kind != TExpKind::Constant)
    return node;
  auto value = std::move(node->Left);
  if (node->Op == TExpOp::Negate && !value->IsNull) {
    switch (value->Type) {
      case fcSmallInt:
        value->SetSmallInt(static_cast<int16_t>(-value->AsLargeInt()));
        break;
      case fcInteger:
        value->SetInteger(static_cast<int32_t>(-static_cast<uint32_t>(value->AsLargeInt())));
        break;
      case fcLargeInt:
        value->SetLargeInt(static_cast<int64_t>(0 - static_cast<uint64_t>(value->AsLargeInt())));
        break;
      case fcFloat:
        value->SetFloat(-value->AsFloat());
        break;
      case fcBCD: {
        TBcd bcd = value->AsBcd();
        bcd.SignSpecialPlaces ^= 0x80;
        value->SetBcd(bcd, value->Scale);
        break;
      }
      default:
        return node;  // words and others: left for evaluation
    }
  }
  value->Text = node->Text + value->Text;
  return value;
}

// Converts a folded constant to the type of the operand it meets.
void ConvertToType(TExpToken& value, const TExpToken& left) {
  if (value.Kind != TExpKind::Constant || value.IsNull || value.Type == fcString ||
      value.Type == left.Type)
    return;
  const uint8_t from = value.Type, to = left.Type;
  if (IsInt(to) && IsNum(from)) {
    const int64_t whole = value.AsLargeInt();  // truncates floats and BCD toward zero
    if (to == fcSmallInt) value.SetSmallInt(static_cast<int16_t>(static_cast<uint16_t>(whole)));
    if (to == fcWord) value.SetWord(static_cast<uint16_t>(whole));
    if (to == fcInteger) value.SetInteger(static_cast<int32_t>(static_cast<uint32_t>(whole)));
    if (to == fcLargeInt) value.SetLargeInt(whole);
  } else if (to == fcFloat && IsNum(from)) {
    value.SetFloat(value.AsFloat());
  } else if (to == fcBCD && IsNum(from)) {
    const std::string text = from == fcFloat ? FloatText(value.AsFloat())
                             : from == fcBCD ? BcdToText(value.AsBcd())
                                             : std::to_string(value.AsLargeInt());
    TBcd bcd;
    if (BcdFromText(text, left.Scale, &bcd)) value.SetBcd(bcd, left.Scale);
  } else if (to == fcDate && from == fcTimeStamp) {
    value.SetDate(static_cast<int32_t>(value.AsFloat() / static_cast<double>(kMsPerDay)));
  } else if (to == fcTimeStamp && from == fcDate) {
    value.SetTimeStamp(static_cast<double>(value.AsLargeInt()) * static_cast<double>(kMsPerDay));
  }
}

std::unique_ptr<TExpToken> FoldFor(std::unique_ptr<TExpToken> operand, const TExpToken& left) {
  if (operand->RefersToField()) return operand;
  operand = Fold(std::move(operand));
  ConvertToType(*operand, left);
  return operand;
}

bool IsCaseFunction(const TExpToken& node, TExpOp op) {
  return node.Kind == TExpKind::Function && node.Op == op && node.Args.size() == 1;
}

// The left side and every other side wrapped in the same UPPER or LOWER.
bool SameCaseWrapping(const TExpToken& left, const std::vector<const TExpToken*>& others) {
  for (TExpOp op : {TExpOp::Upper, TExpOp::Lower}) {
    if (!IsCaseFunction(left, op) || left.Args[0]->Kind != TExpKind::Field) continue;
    bool all = true;
    for (const TExpToken* other : others) {
      all = all && IsCaseFunction(*other, op) && !other->Args[0]->RefersToField();
    }
    if (all) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<TExpToken> TExpressionParser::CompileFilter(const TExpToken& tree,
                                                            const TFilterCompileOptions& options) {
  return Compile(tree, options);
}

std::unique_ptr<TExpToken> TExpressionParser::Compile(const TExpToken& node,
                                                      const TFilterCompileOptions& options) {
  auto copy = std::make_unique<TExpToken>();
  {
    // A shallow copy, then the compiled operands.
    TExpToken bare;
    bare.Text = node.Text, bare.Correlation = node.Correlation, bare.Kind = node.Kind,
    bare.Op = node.Op;
    bare.Type = node.Type, bare.Subtype = node.Subtype, bare.Size = node.Size,
    bare.Scale = node.Scale;
    bare.FieldNumber = node.FieldNumber, bare.PrefixLength = node.PrefixLength;
    bare.Caseless = node.Caseless, bare.Option = node.Option, bare.IsNull = node.IsNull;
    bare.Value = node.Value;
    *copy = std::move(bare);
  }
  if (node.Left) copy->Left = Compile(*node.Left, options);
  if (node.Right) copy->Right = Compile(*node.Right, options);
  for (const auto& arg : node.Args) copy->Args.push_back(Compile(*arg, options));

  if (copy->Kind == TExpKind::Binary && IsComparison(copy->Op)) {
    if (copy->Right->Kind == TExpKind::Field && copy->Left->Kind != TExpKind::Field) {
      std::swap(copy->Left, copy->Right);
      copy->Op = Mirrored(copy->Op);
      copy->Text = OperatorText(copy->Op);
    }
    copy->Right = FoldFor(std::move(copy->Right), *copy->Left);
    copy->Caseless = SameCaseWrapping(*copy->Left, {copy->Right.get()});
    TExpToken& constant = *copy->Right;
    const bool equality = copy->Op == TExpOp::Equal || copy->Op == TExpOp::NotEqual;
    if (equality && constant.Kind == TExpKind::Constant && constant.Type == fcString &&
        !constant.IsNull) {
      std::string text = constant.AsString();
      bool prefix = false;
      if (!options.NoPartialCompare && !text.empty() && text.back() == '*' && text.front() != '*') {
        const size_t stars = text.size() - text.find_last_not_of('*') - 1;
        const std::string head = text.substr(0, text.size() - stars);
        if (head.find('*') == std::string::npos) {
          prefix = true;
          text = head;
        }
      }
      if (prefix || options.IgnoreCase) {
        copy->Kind = TExpKind::StringCompare;
        copy->Caseless = options.IgnoreCase;
        copy->PrefixLength = prefix ? static_cast<int32_t>(text.size()) : 0;
        if (prefix) constant.SetString(text);
      }
    }
    return copy;
  }
  if (copy->Kind == TExpKind::Predicate) {
    for (auto& arg : copy->Args) arg = FoldFor(std::move(arg), *copy->Left);
    std::vector<const TExpToken*> others;
    for (const auto& arg : copy->Args) others.push_back(arg.get());
    copy->Caseless = SameCaseWrapping(*copy->Left, others);
    const bool like = copy->Op == TExpOp::Like || copy->Op == TExpOp::NotLike;
    const TExpToken& pattern = *copy->Args[0];
    if (like && pattern.Kind == TExpKind::Constant && pattern.Type == fcString && !pattern.IsNull) {
      const std::string text = pattern.AsString();
      const size_t last = text.find_last_not_of('%');
      if (last != std::string::npos && last + 1 < text.size() && text.front() != '%') {
        const std::string head = text.substr(0, last + 1);
        if (head.find_first_of("%_") == std::string::npos) {
          auto compare = MakeNode(TExpKind::StringCompare,
                                  copy->Op == TExpOp::Like ? TExpOp::Equal : TExpOp::NotEqual,
                                  copy->Op == TExpOp::Like ? "=" : "<>");
          compare->Type = fcBoolean;
          compare->Left = std::move(copy->Left);
          compare->Right = std::move(copy->Args[0]);
          compare->Right->SetString(head);
          compare->PrefixLength = static_cast<int32_t>(head.size());
          compare->Caseless = false;
          return compare;
        }
      }
    }
  }
  return copy;
}

}  // namespace vevura
