#include "engine/expr/expression_evaluator.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/expr/expression_parser.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

// Two records of one table: "full" holds a value in every field but City,
// "empty" has every field null.
class ExpressionEvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    struct TDef {
      const char* name;
      uint8_t type, size, scale;
    };
    const TDef defs[] = {
        {"Name", fcString, 20, 0}, {"City", fcString, 10, 0}, {"Qty", fcInteger, 0, 0},
        {"Big", fcLargeInt, 0, 0}, {"Price", fcFloat, 0, 0},  {"Amount", fcBCD, 0, 2},
        {"Born", fcDate, 0, 0},    {"At", fcTime, 0, 0},      {"Stamp", fcTimeStamp, 0, 0},
        {"Flag", fcBoolean, 0, 0}, {"Notes", fcBlob, 0, 0}};
    for (const auto& def : defs) {
      TFieldDescriptor field;
      field.FieldNumber = static_cast<uint16_t>(fields_.size() + 1);
      field.Name = def.name, field.Type = def.type, field.Size = def.size;
      field.Scale = def.scale;
      fields_.push_back(field);
    }
    fields_.back().Subtype = fsMemo;
    const uint32_t size = LayOutFields(fields_);
    full_.assign(size, 0);
    empty_.assign(size, 0);
    auto f = [&](const char* name) -> const TFieldDescriptor& {
      for (const auto& field : fields_)
        if (field.Name == name) return field;
      throw std::logic_error(name);
    };
    SetStringField(full_, f("Name"), "Alice", 0);
    SetIntegerField(full_, f("Qty"), 7);
    SetLargeIntField(full_, f("Big"), 8);
    SetFloatField(full_, f("Price"), 2.5);
    TBcd amount;
    ASSERT_TRUE(BcdFromText("12.35", 2, &amount));
    SetBcdField(full_, f("Amount"), amount);
    int32_t born = 0, stamp_day = 0;
    ASSERT_TRUE(DayNumberFromDate(2004, 2, 29, &born));
    ASSERT_TRUE(DayNumberFromDate(2005, 1, 1, &stamp_day));
    SetDateField(full_, f("Born"), born);
    SetTimeField(full_, f("At"), (10 * 3600 + 5 * 60 + 7) * 1000);
    SetTimeStampField(full_, f("Stamp"),
                      static_cast<double>(stamp_day) * kMsPerDay + 12 * 3600000.0);
    SetBooleanField(full_, f("Flag"), 1);
    SetBlobField(full_, f("Notes"), TBlobReference{1, 1}, true);
    context_.Fields = &fields_;
    // The memo holds a text in the full record only.
    context_.ReadBlob = [this](std::span<const uint8_t> record, const TFieldDescriptor&) {
      const std::string text = "The quick brown fox jumps over the lazy fox";
      return record.data() == full_.data() ? std::vector<uint8_t>(text.begin(), text.end())
                                           : std::vector<uint8_t>{};
    };
  }

  std::unique_ptr<TExpToken> Tree(const std::string& text, TFilterCompileOptions options) {
    TExpressionParser parser(VEVURA_INVALIDFILTER, "filter expression", "people");
    auto tree = parser.ParseText(text, poExtendedPredicates);
    parser.ResolveExpression(*tree, fields_);
    return parser.CompileFilter(*tree, options);
  }

  // The value as "NULL", "T", "F" or its text form.
  std::string Show(const std::string& text, const std::vector<uint8_t>& record,
                   TFilterCompileOptions options = {}) {
    const TExpToken value = EvaluateExpression(*Tree(text, options), record, context_);
    if (value.IsNull) return "NULL";
    if (value.Type == fcBoolean) return value.AsBoolean() ? "T" : "F";
    return ValueText(value);
  }

  struct TCase {
    const char* text;
    const char* full;
    const char* empty;
  };
  void Check(const std::vector<TCase>& cases, TFilterCompileOptions options = {}) {
    for (const auto& c : cases) {
      EXPECT_EQ(Show(c.text, full_, options), c.full) << c.text;
      EXPECT_EQ(Show(c.text, empty_, options), c.empty) << c.text << " (nulls)";
      // A filter's verdict, which skips the value tokens where it can, agrees.
      for (const auto* record : {&full_, &empty_}) {
        const std::string value = record == &full_ ? c.full : c.empty;
        if (value != "T" && value != "F") continue;
        EXPECT_EQ(RecordPasses(*Tree(c.text, options), *record, context_), value == "T")
            << c.text << (record == &full_ ? "" : " (nulls)");
      }
    }
  }

  std::vector<TFieldDescriptor> fields_;
  std::vector<uint8_t> full_, empty_;
  TEvaluationContext context_;
};

TEST_F(ExpressionEvaluatorTest, ComparisonsAndLogicWithNulls) {
  Check({
      {"Qty = NULL", "F", "T"},
      {"Qty IS NULL", "F", "T"},
      {"Qty <> NULL", "T", "F"},
      {"Qty IS NOT NULL", "T", "F"},
      {"Qty > 5", "T", "F"},
      {"Qty <= 5", "F", "F"},
      {"Qty = Big", "F", "T"},
      {"Qty <= Big", "T", "T"},
      {"Qty < Big", "T", "F"},
      {"Big >= Qty", "T", "T"},
      {"Qty = 7.0", "T", "F"},
      {"Qty <> 5", "T", "T"},
      {"Qty < 7.5", "F", "F"},
      {"Big > 7.5", "T", "F"},
      {"Price >= 2.5", "T", "F"},
      {"Price = 2", "F", "F"},
      {"Price < 3 AND Qty <> 7", "F", "F"},
      {"Price > 3 OR Big = 8", "T", "F"},
      {"Price < Qty", "T", "F"},
      {"Amount > 12.3", "T", "F"},
      {"NOT Flag", "F", "T"},
      {"Flag = TRUE", "T", "F"},
      {"City < 'A'", "T", "T"},
      {"City = 'A'", "F", "F"},
      {"City = ''", "T", "T"},
      {"Name > City", "T", "F"},
      {"Name = 'Alice'", "T", "F"},
      {"Name = 'alice'", "F", "F"},
      {"Name < 'alice'", "T", "T"},
      {"Name = 'Al*'", "T", "F"},
      {"Name <> 'Al*'", "F", "T"},
      {"Name = 'Alicex*'", "F", "F"},
      {"Born = '2004-02-29'", "T", "F"},
      {"Born < Stamp", "T", "F"},
      {"Stamp > '2005-01-01'", "T", "F"},
      {"At >= '10:05:07'", "T", "F"},
      {"Flag AND Qty > 5", "T", "F"},
      {"Qty > 5 OR Flag", "T", "F"},
      {"NOT (Flag OR Qty > 5)", "F", "T"},
      {"NOT Flag AND NOT (Qty = 1)", "F", "T"},
  });
  // Ignoring case affects = and <> only; no partial comparison takes * as is.
  Check({{"Name = 'alice'", "T", "F"},
         {"Name <> 'ALICE'", "F", "T"},
         {"Name = 'AL*'", "T", "F"},
         {"Name > 'alice'", "F", "F"}},
        {.IgnoreCase = true});
  Check({{"Name = 'Al*'", "F", "F"}}, {.NoPartialCompare = true});
}

TEST_F(ExpressionEvaluatorTest, ArithmeticAndConcatenation) {
  Check({
      {"7 / 2", "3.5", "3.5"},
      {"7 / 0", "NULL", "NULL"},
      {"Qty / 0", "NULL", "NULL"},
      {"Price / 0.0", "NULL", "NULL"},
      {"Qty + 1", "8", "NULL"},
      {"Qty - 10", "-3", "NULL"},
      {"Big * Qty", "56", "NULL"},
      {"Qty * Price", "17.5", "NULL"},
      {"-Qty", "-7", "NULL"},
      {"-Price", "-2.5", "NULL"},
      {"Amount + 1", "13.35", "NULL"},
      {"Amount * 2", "24.7", "NULL"},
      {"Amount / 0", "NULL", "NULL"},
      {"Name + '!'", "Alice!", "!"},
      {"City + Name", "Alice", "NULL"},
      {"Born + 1", "2004-03-01", "NULL"},
      {"Born - 60", "2003-12-31", "NULL"},
      {"Born - Born", "0", "NULL"},
      {"(Qty + 1) * 2 = 16", "T", "F"},
  });
}

TEST_F(ExpressionEvaluatorTest, LikeInAndBetween) {
  Check({
      {"Name LIKE 'A_ice'", "T", "F"},
      {"Name LIKE '%li%'", "T", "F"},
      {"Name LIKE '%e'", "T", "F"},
      {"Name LIKE 'a%'", "F", "F"},
      {"Name LIKE 'A%'", "T", "F"},
      {"Name NOT LIKE 'A%'", "F", "T"},
      {"Name NOT LIKE '%x%'", "T", "T"},
      {"Qty IN (NULL, 1)", "F", "T"},
      {"Qty IN (1, 7)", "T", "F"},
      {"1 IN (2, 3)", "F", "F"},
      {"Qty NOT IN (7)", "F", "T"},
      {"Qty BETWEEN 5 AND 8", "T", "F"},
      {"Qty BETWEEN 8 AND 9", "F", "F"},
      {"Qty NOT BETWEEN 5 AND 8", "F", "T"},
      {"Name BETWEEN 'A' AND 'B'", "T", "F"},
  });
  struct TLike {
    const char *value, *pattern;
    bool match;
  };
  for (const TLike& c :
       {TLike{"aXbYbZc", "a%b%c", true}, TLike{"ABC", "A_C", true}, TLike{"AC", "A_C", false},
        TLike{"aab", "a%ab", true}, TLike{"abcb", "%b", true}, TLike{"abc", "%", true},
        TLike{"", "%", true}, TLike{"", "_", false}, TLike{"ab", "a%b%c", false},
        TLike{"abc", "ABC", false}, TLike{"abc", "abc%", true}, TLike{"abcd", "abc", false}}) {
    EXPECT_EQ(LikeMatches(c.value, c.pattern, 0, 0), c.match) << c.value << " " << c.pattern;
  }
}

TEST_F(ExpressionEvaluatorTest, Functions) {
  Check({
      {"UPPER(Name)", "ALICE", "NULL"},
      {"LOWER(Name) = 'alice'", "T", "F"},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "bcd", "bcd"},
      {"SUBSTRING('abc' FROM 4)", "NULL", "NULL"},
      {"SUBSTRING(Name FROM 0 FOR 2)", "Al", "NULL"},
      {"SUBSTRING(Name FROM 4 FOR 10)", "ce", "NULL"},
      {"SUBSTRING(Name FROM 2 FOR -1)", "NULL", "NULL"},
      {"TRIM(BOTH '*' FROM '**ab*')", "ab", "ab"},
      {"TRIM(LEADING '*' FROM '**ab*')", "ab*", "ab*"},
      {"TRIM(TRAILING '*' FROM '**ab*')", "**ab", "**ab"},
      {"TRIM(BOTH ' ' FROM '   ')", "NULL", "NULL"},
      {"POS('b' IN 'abcb')", "2", "2"},
      {"POS('l' IN Name)", "2", "0"},
      {"POS('x' IN Name)", "0", "0"},
      {"OCCURS('aa' IN 'aaaa')", "2", "2"},
      {"OCCURS('a' IN City)", "0", "0"},
      {"REPLACE('a' WITH 'xy' IN 'banana')", "bxynxynxy", "bxynxynxy"},
      {"REPLACE('A' WITH 'E' IN Name)", "Elice", "NULL"},
      {"REPLACE('Alice' WITH '' IN Name)", "NULL", "NULL"},
      {"LENGTH(Name)", "5", "NULL"},
      {"EXTRACT(DAYOFWEEK FROM Born)", "7", "NULL"},
      {"EXTRACT(DAYOFYEAR FROM Born)", "60", "NULL"},
      {"EXTRACT(WEEK FROM Stamp)", "53", "NULL"},
      {"EXTRACT(WEEK FROM '2008-12-29')", "1", "1"},
      {"EXTRACT(HOUR FROM Born)", "0", "NULL"},
      {"EXTRACT(HOUR FROM Stamp)", "12", "NULL"},
      {"EXTRACT(YEAR FROM At)", "0", "NULL"},
      {"EXTRACT(MINUTE FROM At)", "5", "NULL"},
      {"EXTRACT(DAYOFWEEK FROM At)", "6", "NULL"},
      {"ROUND(2.5)", "3", "3"},
      {"ROUND(-2.5)", "-3", "-3"},
      {"ROUND(1.2345 TO 2)", "1.23", "1.23"},
      {"ROUND(Price)", "3", "NULL"},
      {"ROUND(Amount TO 1)", "12.4", "NULL"},
      {"IF(Flag THEN 'y' ELSE 'n')", "y", "n"},
      {"IFNULL(Qty THEN 0 ELSE Qty)", "7", "0"},
      {"COALESCE(City, Name, 'x')", "Alice", "x"},
      {"COALESCE(Qty, Big)", "7", "NULL"},
      {"ABS(-Qty)", "7", "NULL"},
      {"ABS(Price - 10)", "7.5", "NULL"},
      {"CAST(Born AS CHAR(4))", "2004", "NULL"},
      {"CAST('12' AS INTEGER) + 1", "13", "13"},
      {"CAST(Price AS INTEGER)", "2", "NULL"},
      {"CAST(Stamp AS DATE)", "2005-01-01", "NULL"},
  });
  // Memos, and the word search over them evaluated record by record.
  Check({
      {"Notes LIKE '%lazy%'", "T", "F"},
      {"LENGTH(Notes)", "43", "NULL"},
      {"POS('fox' IN Notes)", "17", "0"},
      {"TEXTSEARCH('FOX lazy' IN Notes)", "T", "F"},
      {"TEXTSEARCH('qu* the' IN Notes)", "T", "F"},
      {"TEXTSEARCH('qu* dog' IN Notes)", "F", "F"},
      {"TEXTSEARCH('the' IN Notes)", "T", "T"},
      {"TEXTOCCURS('fox JUMP*' IN Notes)", "3", "0"},
      {"TEXTOCCURS('the' IN Notes)", "0", "0"},
  });
  try {
    Show("CAST(Name AS INTEGER)", full_);
    ADD_FAILURE() << "no error";
  } catch (const EVEVURAEngineError& error) {
    EXPECT_EQ(error.ErrorCode, VEVURA_INVALIDFILTER);
  }
}

}  // namespace
}  // namespace vevura
