#include "engine/expr/expression_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

constexpr uint32_t kFilter = poExtendedPredicates;

TExpressionParser FilterParser() {
  return TExpressionParser(VEVURA_INVALIDFILTER, "filter expression", "people");
}

std::string Tree(const std::string& text, uint32_t options = kFilter) {
  auto parser = FilterParser();
  return TreeText(*parser.ParseText(text, options));
}

std::vector<TFieldDescriptor> Fields() {
  struct TDef {
    const char* name;
    uint8_t type, subtype, size, scale;
  };
  const TDef defs[] = {
      {"Name", fcString, 0, 20, 0},
      {"Born", fcDate, 0, 0, 0},
      {"Notes", fcBlob, fsMemo, 0, 0},
      {"Pic", fcBlob, fsBinary, 0, 0},
      {"Flag", fcBoolean, 0, 0, 0},
      {"Small", fcSmallInt, 0, 0, 0},
      {"Qty", fcInteger, 0, 0, 0},
      {"Price", fcFloat, 0, 0, 0},
      {"Amount", fcBCD, 0, 0, 2},
      {"Raw", fcBytes, 0, 4, 0},
      {"At", fcTime, 0, 0, 0},
      {"Stamp", fcTimeStamp, 0, 0, 0},
      {"W", fcWord, 0, 0, 0},
      {"Big", fcLargeInt, 0, 0, 0},
      {"First Name", fcString, 0, 10, 0},
  };
  std::vector<TFieldDescriptor> fields;
  for (const auto& def : defs) {
    TFieldDescriptor field;
    field.FieldNumber = static_cast<uint16_t>(fields.size() + 1);
    field.Name = def.name;
    field.Type = def.type;
    field.Subtype = def.subtype;
    field.Size = def.size;
    field.Scale = def.scale;
    fields.push_back(field);
  }
  return fields;
}

std::unique_ptr<TExpToken> Resolved(const std::string& text, uint32_t options = kFilter) {
  auto parser = FilterParser();
  auto tree = parser.ParseText(text, options);
  parser.ResolveExpression(*tree, Fields());
  return tree;
}

std::string Compiled(const std::string& text, TFilterCompileOptions options = {}) {
  auto parser = FilterParser();
  auto tree = parser.ParseText(text, kFilter);
  parser.ResolveExpression(*tree, Fields());
  return TreeText(*parser.CompileFilter(*tree, options));
}

// The detail of the engine error that parsing and resolving text raises; the
// code must be VEVURA_INVALIDFILTER.
std::string ErrorOf(const std::string& text, uint32_t options = kFilter) {
  try {
    Resolved(text, options);
  } catch (const EVEVURAEngineError& error) {
    EXPECT_EQ(error.ErrorCode, VEVURA_INVALIDFILTER) << text;
    EXPECT_EQ(error.ErrorTable, "people");
    return error.ErrorDetail;
  }
  return "(no error)";
}

TEST(ExpressionParser, PrecedenceAndAssociativity) {
  const std::pair<const char*, const char*> cases[] = {
      {"a + b * c", "(a + (b * c))"},
      {"a - b - c", "((a - b) - c)"},
      {"a / b * c", "((a / b) * c)"},
      {"(a + b) * c", "((a + b) * c)"},
      {"a || b + c", "((a + b) + c)"},
      {"-a * b", "((- a) * b)"},
      {"NOT a = 1 OR b = 2 AND c = 3", "((NOT (a = 1)) OR ((b = 2) AND (c = 3)))"},
      {"a OR b OR c", "((a OR b) OR c)"},
      {"a = 1 AND b <> 2 AND c >= 3", "(((a = 1) AND (b <> 2)) AND (c >= 3))"},
      {"a<=1 or b>2 or c<3", "(((a <= 1) OR (b > 2)) OR (c < 3))"},
      {"a + 1 = b * 2", "((a + 1) = (b * 2))"},
      {"a IS NULL", "(a = NULL)"},
      {"a is not null", "(a <> NULL)"},
      {"a NOT LIKE 'x%' AND b BETWEEN 1 AND 2", "((a NOT LIKE 'x%') AND (b BETWEEN 1 2))"},
      {"a NOT IN (1, 2 + 3)", "(a NOT IN 1 (2 + 3))"},
      {"NOT a IN (1)", "(NOT (a IN 1))"},
      {"t.a = [b c]", "(a = b c)"},
      {"[and] = \"in\"", "(and = in)"},
      {"SUBSTRING(a FROM 2 FOR 3) = 'x'", "(SUBSTRING(a, 2, 3) = 'x')"},
      {"POS('a' IN b) > 0", "(POS('a', b) > 0)"},
      {"IF(a = 1 THEN 'x' ELSE 'y') = IF(a, b, c)", "(IF((a = 1), 'x', 'y') = IF(a, b, c))"},
      {"REPLACE('a' WITH 'b' IN c) = TRIM(BOTH ' ' FROM d)",
       "(REPLACE('a', 'b', c) = TRIM(' ', d))"},
      {"ROUND(a TO 2) = ABS(b)", "(ROUND(a, 2) = ABS(b))"},
      {"COALESCE(a, b, 1) = EXTRACT(YEAR FROM d)", "(COALESCE(a, b, 1) = EXTRACT(d))"},
  };
  for (const auto& [text, tree] : cases) EXPECT_EQ(Tree(text), tree) << text;
}

TEST(ExpressionParser, TokensCommentsAndQuoting) {
  auto parser = FilterParser();
  parser.SetText(" /* c */ [First Name]\t'it''s' \"a\"\"b\" abc_1$@ x.5 #65 <=");
  EXPECT_EQ(parser.NextToken(), TLexToken::BracketedName);
  EXPECT_EQ(parser.TokenText(), "First Name");
  EXPECT_EQ(parser.NextToken(), TLexToken::String);
  EXPECT_EQ(parser.TokenText(), "it's");
  EXPECT_EQ(parser.NextToken(), TLexToken::QuotedName);
  EXPECT_EQ(parser.TokenText(), "a\"b");
  EXPECT_EQ(parser.NextToken(), TLexToken::Symbol);
  EXPECT_TRUE(parser.IsKeyword("ABC_1$@"));
  EXPECT_FALSE(parser.IsKeyword("ABC"));
  EXPECT_EQ(parser.NextToken(), TLexToken::Symbol);
  EXPECT_EQ(parser.NextToken(), TLexToken::Real);
  EXPECT_EQ(parser.TokenText(), ".5");
  EXPECT_EQ(parser.NextToken(), TLexToken::Character);
  EXPECT_EQ(parser.NextToken(), TLexToken::Single);
  EXPECT_TRUE(parser.IsSymbol('<'));
  EXPECT_EQ(parser.NextToken(), TLexToken::Single);
  EXPECT_EQ(parser.NextToken(), TLexToken::End);

  EXPECT_EQ(Tree("/* a */ [First Name] /**/ = 'O''Neil' /* b */"), "(First Name = 'O'Neil')");
  EXPECT_EQ(Tree("\"say \"\"hi\"\"\" = 1"), "(say \"hi\" = 1)");
}

TEST(ExpressionParser, ConstantsAndTheirTypes) {
  struct TCase {
    const char* text;
    uint8_t type;
    const char* value;
  };
  const TCase cases[] = {
      {"2147483647", fcInteger, "2147483647"},
      {"2147483648", fcLargeInt, "2147483648"},
      {"9223372036854775807", fcLargeInt, "9223372036854775807"},
      {"9223372036854775808", fcFloat, "9223372036854775808"},
      {"1E3", fcFloat, "1000"},
      {"1.5", fcFloat, "1.5"},
      {".25e-1", fcFloat, "0.025"},
      {"'abc'", fcString, "abc"},
      {"#65", fcString, "A"},
      {"TRUE", fcBoolean, "True"},
      {"false", fcBoolean, "False"},
      {"NULL", fcNone, ""},
  };
  for (const auto& c : cases) {
    auto parser = FilterParser();
    auto tree = parser.ParseText(c.text, kFilter);
    EXPECT_EQ(tree->Kind, TExpKind::Constant) << c.text;
    EXPECT_EQ(tree->Type, c.type) << c.text;
    EXPECT_EQ(ValueText(*tree), c.value) << c.text;
  }
  auto parser = FilterParser();
  auto text = parser.ParseText("'abc'", kFilter);
  EXPECT_EQ(text->Size, 4);
  EXPECT_EQ(text->Value, (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  EXPECT_TRUE(parser.ParseText("''", kFilter)->IsNull);
  EXPECT_TRUE(parser.ParseText("NULL", kFilter)->IsNull);
  EXPECT_EQ(parser.ParseText("TRUE", kFilter)->Value, (std::vector<uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(parser.ParseText("current_date()", kFilter)->Type, fcDate);
  EXPECT_EQ(parser.ParseText("CURRENT_TIME", kFilter)->Type, fcTime);
  EXPECT_EQ(parser.ParseText("CURRENT_TIMESTAMP ( )", kFilter)->Type, fcTimeStamp);
}

TEST(ExpressionParser, ParseErrorMessages) {
  const std::pair<const char*, const char*> cases[] = {
      {"Name = 'abc", "Missing single quote after 'abc' in filter expression"},
      {"\"Na", "Missing double quote after 'Na' in filter expression"},
      {"[Na", "Missing right bracket after 'Na' in filter expression"},
      {"a = 1 /* x", "Missing ending comment slash and asterisk in filter expression"},
      {"#256", "Character constants (#) must be within the range of 0 to 255 in filter expression"},
      {"1.2.3", "Constant '1.2.3' is not a valid number  in filter expression"},
      {"1E", "Constant '1E' is not a valid number  in filter expression"},
      {"a = ", "Unknown or unexpected symbol '' in filter expression"},
      {"a = 1 )", "Unknown or unexpected symbol ')' in filter expression"},
      {"a = AND b = 1", "Unknown or unexpected symbol 'AND' in filter expression"},
      {"NOT NOT a", "Unknown or unexpected symbol 'NOT' in filter expression"},
      {"(a = 1", "Right parentheses expected, instead found '' in filter expression"},
      {"FOO(1)", "Unknown or unexpected function 'FOO' in filter expression"},
      {"t. = 1",
       "Symbol or string expression expected after table correlation name separator '.', "
       "instead found '=' in filter expression"},
      {"a | b",
       "Second concatenation symbol '|' expected after first concatentation symbol, instead "
       "found 'b' in filter expression"},
      {"a IS 1", "Unknown or unexpected symbol '1' found in filter expression"},
      {"a BETWEEN 1 OR 2",
       "Expected AND operator in BETWEEN operator, instead found 'OR' in filter expression"},
      {"a NOT BETWEEN 1, 2",
       "Expected AND operator in NOT BETWEEN operator, instead found ',' in filter expression"},
      {"a IN 1",
       "Expected left parentheses for IN operator, instead found '1' in filter expression"},
      {"a NOT IN 1",
       "Expected left parentheses for NOT IN operator, instead found '1' in filter expression"},
      {"a IN (1, 2",
       "Expected right parentheses for IN operator, instead found '' in filter expression"},
      {"a NOT IN (1 2)",
       "Expected right parentheses for NOT IN operator, instead found '2' in filter expression"},
      {"a IN ()",
       "You must provide at least one value as an operand of the IN operator  in filter "
       "expression"},
      {"a NOT IN ()",
       "You must provide at least one value as an operand of the NOT IN operator  in filter "
       "expression"},
      {"CAST(a INTEGER)",
       "AS keyword expected after first CAST function argument, instead found 'INTEGER' in filter "
       "expression"},
      {"SUBSTRING(a, 1)",
       "FROM keyword expected after first SUBSTRING function argument, instead found ',' in filter "
       "expression"},
      {"EXTRACT(YEAR d)",
       "FROM keyword expected after second EXTRACT function argument, instead found 'd' in filter "
       "expression"},
      {"EXTRACT(CENTURY FROM d)",
       "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected "
       "after "
       "EXTRACT keyword, instead found 'CENTURY' in filter expression"},
      {"TRIM(' ' FROM a)",
       "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found ' ' in "
       "filter expression"},
      {"TRIM(LEADING ' ' a)",
       "FROM keyword expected after second TRIM function argument, instead found 'a' in filter "
       "expression"},
      {"OCCURS('a', b)",
       "IN keyword expected after first OCCURS function argument, instead found ',' in filter "
       "expression"},
      {"POS('a' b)",
       "IN keyword expected after first POS function argument, instead found 'b' in filter "
       "expression"},
      {"TEXTOCCURS('a' b)",
       "IN keyword expected after first TEXTOCCURS function argument, instead found 'b' in filter "
       "expression"},
      {"TEXTSEARCH('a' b)",
       "IN keyword expected after first TEXTSEARCH function argument, instead found 'b' in filter "
       "expression"},
      {"REPLACE('a' IN b)",
       "WITH keyword expected after first REPLACE function argument, instead found 'IN' in filter "
       "expression"},
      {"REPLACE('a' WITH 'b' c)",
       "IN keyword expected after second REPLACE function argument, instead found 'c' in filter "
       "expression"},
      {"IF(a b)",
       "THEN keyword or comma expected after first IF function argument, instead found 'b' in "
       "filter expression"},
      {"IF(a THEN b, c)",
       "ELSE keyword or comma expected after second IF function argument, instead found ',' in "
       "filter expression"},
      {"IFNULL(a ELSE b)",
       "THEN keyword or comma expected after first IFNULL function argument, instead found 'ELSE' "
       "in filter expression"},
      {"IFNULL(a, b ELSE c)",
       "ELSE keyword or comma expected after second IFNULL function argument, instead found 'ELSE' "
       "in filter expression"},
      {"COALESCE()",
       "You must provide at least one value as an argument of the COALESCE operator  in filter "
       "expression"},
      {"COALESCE(a, b",
       "Expected right parentheses after COALESCE expression arguments, instead found '' in filter "
       "expression"},
      {"ROUND 1",
       "Left parentheses expected after ROUND keyword, instead found '1' in filter expression"},
      {"ROUND(a TO 1 2)",
       "Right parentheses expected after ROUND function arguments, instead found '2' in filter "
       "expression"},
      {"UPPER(a b)",
       "Right parentheses expected after UPPER function argument, instead found 'b' in filter "
       "expression"},
      {"CURRENT_DATE(1)",
       "Right parentheses expected after first CURRENT_DATE function parentheses, instead found "
       "'1' in filter expression"},
      {"CAST(a AS TEXT)",
       "SQL data type keyword expected, instead found 'TEXT' in filter expression"},
      {"CAST(a AS CHAR)",
       "Left parentheses expected after CHAR data type, instead found ')' in filter expression"},
      {"CAST(a AS VARBYTES(x))", "Length argument must be an integer in filter expression"},
      {"CAST(a AS CHAR(251))",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in filter "
       "expression"},
      {"CAST(a AS BINARY(0))",
       "Length argument must be an integer greater than 0 and less than or equal to 250 in filter "
       "expression"},
      {"CAST(a AS VARCHAR(2 3))",
       "Right parentheses expected after VARCHAR data type arguments, instead found '3' in filter "
       "expression"},
      {"CAST(a AS DECIMAL(10 2))",
       "Comma expected after first DECIMAL argument, instead found '2' in filter expression"},
      {"CAST(a AS NUMERIC(10, x))", "Scale argument must be an integer in filter expression"},
      {"CAST(a AS NUMERIC(10, 5))",
       "Scale argument must be an integer less than or equal to 4 but greater than or equal to 0 "
       "for the "
       "BCD data type  in filter expression"},
      {"CAST(a AS FLOAT(10 2))",
       "Comma expected after first FLOAT argument, instead found '2' in filter expression"},
      {"CAST(a AS FLOAT(10, 2 x))",
       "Right parentheses expected after FLOAT data type arguments, instead found 'x' in filter "
       "expression"},
      {"CAST(a AS BLOB(x, 1))", "First BLOB type argument must be an integer in filter expression"},
      {"CAST(a AS BLOB(1 1))",
       "Comma expected after first BLOB argument, instead found '1' in filter expression"},
      {"CAST(a AS BLOB(1, 'x'))", "BLOB type argument must be an integer in filter expression"},
      {"CAST(a AS BLOB(1, 4))",
       "BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in filter expression"},
      {"CAST(a AS BLOB(1, 5 x))",
       "Right parentheses expected after BLOB data type arguments, instead found 'x' in filter "
       "expression"},
      {"CAST(a AS DATE x)",
       "Right parentheses expected after CAST function arguments, instead found 'x' in filter "
       "expression"},
      {"#", "Unknown or unexpected symbol '#' in filter expression"},
      {"SUM(a) > 1", "Aggregate functions are not allowed in filter expression"},
      {"a IN (SELECT b)", "Sub-select queries are not allowed in filter expression"},
      {"a = ?", "Parameters are not allowed in filter expression"},
      {"* = 1", "* (all columns) symbol is not allowed in filter expression"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(ErrorOf(text), message) << text;
  EXPECT_EQ(ErrorOf("a LIKE 'x'", 0),
            "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in filter "
            "expression");
  EXPECT_EQ(ErrorOf("a IS NULL", 0),
            "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in filter "
            "expression");
  // The options admit what they name, and the whole message fills the template.
  EXPECT_EQ(Tree("SUM(Qty) > 1", kFilter | poAggregates), "(SUM(Qty) > 1)");
  EXPECT_EQ(Tree("COUNT(*) > 1", kFilter | poAggregates), "(COUNT(*) > 1)");
  try {
    Tree("Name = 'abc");
    ADD_FAILURE();
  } catch (const EVEVURAEngineError& error) {
    EXPECT_STREQ(error.what(),
                 "VEVURA Engine Error # 10051 Filter error for the table 'people' - Missing single "
                 "quote after 'abc' in filter expression");
  }
}

TEST(ExpressionParser, CastTypes) {
  struct TCase {
    const char* type;
    uint8_t code, subtype;
    int size, scale;
  };
  const TCase cases[] = {
      {"SMALLINT", fcSmallInt, 0, 0, 0},
      {"WORD", fcWord, 0, 0, 0},
      {"INT", fcInteger, 0, 0, 0},
      {"LARGEINT", fcLargeInt, 0, 0, 0},
      {"AUTOINC", fcInteger, fsAutoInc, 0, 0},
      {"NUMERIC(10,4)", fcBCD, 0, 10, 4},
      {"FLOAT", fcFloat, 0, 0, 0},
      {"MONEY", fcFloat, fsMoney, 0, 0},
      {"CHARACTER(10)", fcString, 0, 11, 0},
      {"VARBINARY(250)", fcBytes, 0, 250, 0},
      {"TIMESTAMP", fcTimeStamp, 0, 0, 0},
      {"BIT", fcBoolean, 0, 0, 0},
      {"BLOB", fcBlob, fsBinary, 0, 0},
      {"BLOB(1, 1)", fcBlob, fsMemo, 0, 0},
      {"MEMO", fcBlob, fsMemo, 0, 0},
      {"GRAPHIC", fcBlob, fsGraphic, 0, 0},
  };
  for (const auto& c : cases) {
    auto tree = Resolved(std::string("CAST(Name AS ") + c.type + ")");
    EXPECT_EQ(tree->Type, c.code) << c.type;
    EXPECT_EQ(tree->Subtype, c.subtype) << c.type;
    EXPECT_EQ(tree->Size, c.size) << c.type;
    EXPECT_EQ(tree->Scale, c.scale) << c.type;
  }
  EXPECT_EQ(ErrorOf("CAST(Price AS BOOLEAN)"),
            "Type mismatch between column 'Price' and AS argument in filter expression");
  EXPECT_EQ(ErrorOf("CAST(Flag AS DATE)"),
            "Type mismatch between column 'Flag' and AS argument in filter expression");
  EXPECT_EQ(ErrorOf("CAST(Born AS TIME)"),
            "Type mismatch between column 'Born' and AS argument in filter expression");
  EXPECT_EQ(Resolved("CAST(NULL AS TIME)")->Type, fcTime);
  EXPECT_EQ(Resolved("CAST(Stamp AS TIME)")->Type, fcTime);
}

TEST(ExpressionParser, OperandTypes) {
  // Each operator with a representative accepted and refused field pair.
  struct TCase {
    const char* text;
    bool accepted;
    uint8_t result;
  };
  const TCase cases[] = {
      {"Name = Notes", true, fcBoolean},
      {"Name = Qty", false, 0},
      {"Born = Stamp", true, fcBoolean},
      {"Born = At", false, 0},
      {"Small = Amount", true, fcBoolean},
      {"W < Big", true, fcBoolean},
      {"Flag = Flag", true, fcBoolean},
      {"Flag < Flag", false, 0},
      {"Raw = Raw", true, fcBoolean},
      {"Raw > Raw", false, 0},
      {"At >= At", true, fcBoolean},
      {"At = Stamp", false, 0},
      {"Pic = NULL", true, fcBoolean},
      {"Pic = Pic", false, 0},
      {"Flag AND NULL", true, fcBoolean},
      {"Flag OR Qty", false, 0},
      {"Name + Name", true, fcString},
      {"Name + Notes", true, fcBlob},
      {"Born + Qty", true, fcDate},
      {"Qty + Born", true, fcDate},
      {"Born + Price", false, 0},
      {"Small + W", true, fcInteger},
      {"Qty + Big", true, fcLargeInt},
      {"Amount + Qty", true, fcBCD},
      {"Price + Amount", true, fcFloat},
      {"Name + Qty", false, 0},
      {"Born - Born", true, fcInteger},
      {"Born - Stamp", false, 0},
      {"At - At", true, fcInteger},
      {"At - 5", true, fcTime},
      {"Stamp - Born", true, fcInteger},
      {"Stamp - Stamp", true, fcFloat},
      {"Big - Price", true, fcFloat},
      {"Flag - Flag", false, 0},
      {"Qty / W", true, fcFloat},
      {"Qty * Small", true, fcInteger},
      {"Born * 2", false, 0},
      {"Qty * NULL", true, fcInteger},
      {"-Price", true, fcFloat},
      {"-Name", false, 0},
      {"NOT Flag", true, fcBoolean},
      {"NOT Qty", false, 0},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf(c.text);
    EXPECT_EQ(error == "(no error)", c.accepted) << c.text << ": " << error;
    if (c.accepted) {
      EXPECT_EQ(Resolved(c.text)->Type, c.result) << c.text;
    }
  }
  EXPECT_EQ(Resolved("Name + [First Name]")->Size, 21 + 11 - 1);
  EXPECT_EQ(ErrorOf("Name = Qty + 1"),
            "Type mismatch between column 'Name' and expression '+' in filter expression");
  EXPECT_EQ(ErrorOf("Born = 'tomorrow'"),
            "Date, time, or timestamp expression expected, instead found 'tomorrow' in filter "
            "expression");
  EXPECT_EQ(ErrorOf("-Name"), "Type mismatch between '-' operator and 'Name' in filter expression");
  // A date text meeting a date field becomes a date constant.
  auto tree = Resolved("'2004-02-29' < Born");
  EXPECT_EQ(tree->Left->Type, fcDate);
  EXPECT_EQ(ValueText(*tree->Left), "2004-02-29");
  EXPECT_EQ(Resolved("At IN ('10:05', '11:00 PM')")->Args[1]->Type, fcTime);
  EXPECT_EQ(Resolved("Stamp BETWEEN '2004-1-1' AND '2004-1-2 10:00'")->Args[1]->Type, fcTimeStamp);
}

TEST(ExpressionParser, ResolutionErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"Nam = 'x'",
       "Invalid column name 'Nam' or table correlation name '' specified in filter expression"},
      {"other.Name = 'x'",
       "Invalid column name 'Name' or table correlation name 'other' specified in filter "
       "expression"},
      {"Qty LIKE 'x%'",
       "Type mismatch between LIKE operator and expression 'Qty' in filter expression"},
      {"Name NOT LIKE 1",
       "Type mismatch between NOT LIKE operator and expression '1' in filter expression"},
      {"Qty IN (1, 'x')",
       "Type mismatch between IN operator and expression 'x' in filter expression"},
      {"Flag NOT BETWEEN TRUE AND FALSE",
       "Type mismatch between NOT BETWEEN operator and expression 'TRUE' in filter expression"},
      {"IF(Flag, Qty, Name) = 1",
       "Type mismatch between IF expression arguments in filter expression"},
      {"COALESCE(NULL, NULL) = 1",
       "At least one of the COALESCE expression arguments in filter expression must be a non-NULL "
       "value"},
      {"SUBSTRING(Qty FROM 1) = 'x'",
       "Expression argument of SUBSTRING function must be a string or memo in filter expression"},
      {"SUBSTRING(Name FROM 'a') = 'x'",
       "FROM argument of SUBSTRING function must be an integer value in filter expression"},
      {"SUBSTRING(Name FROM 1 FOR Price) = 'x'",
       "FOR argument of SUBSTRING function must be an integer value in filter expression"},
      {"REPLACE('a' WITH 'b' IN Qty) = 'x'",
       "IN argument of REPLACE function must be a string or memo in filter expression"},
      {"REPLACE(1 WITH 'b' IN Name) = 'x'",
       "Type mismatch between REPLACE function and search string argument in filter expression"},
      {"POS('a' IN Qty) = 1",
       "Type mismatch between POS function and IN argument in filter expression"},
      {"POS(Notes IN Name) = 1",
       "Type mismatch between POS function and search string argument in filter expression"},
      {"OCCURS('a' IN Flag) = 1",
       "Type mismatch between OCCURS function and IN argument in filter expression"},
      {"OCCURS(1 IN Name) = 1",
       "Type mismatch between OCCURS function and search string argument in filter expression"},
      {"TRIM(LEADING ' ' FROM Qty) = 'x'",
       "FROM argument of TRIM function must be a string or memo in filter expression"},
      {"TRIM(LEADING 'ab' FROM Name) = 'x'",
       "Trim character argument of TRIM function must be a single character constant in filter "
       "expression"},
      {"LENGTH(Qty) = 1",
       "Type mismatch between LENGTH function and function argument in filter expression"},
      {"IF(Qty THEN 1 ELSE 2) = 1",
       "First expression argument of IF function must be a boolean type in filter expression"},
      {"ABS(Name) = 1",
       "Expression argument of ABS function must be an integer, floating-point, or BCD type in "
       "filter expression"},
      {"ROUND(Qty) = 1",
       "Expression argument of ROUND function must be a floating-point or BCD type in filter "
       "expression"},
      {"ROUND(Price TO Qty) = 1",
       "Decimal places argument of ROUND function must be an integer constant in filter "
       "expression"},
      {"ROUND(Price TO 33) = 1",
       "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in "
       "filter expression"},
      {"TEXTSEARCH(1 IN Notes)",
       "Type mismatch between TEXTSEARCH function and search text function argument in filter "
       "expression"},
      {"TEXTSEARCH(Name IN Notes)",
       "TEXTSEARCH search text function argument must be a string constant in filter expression"},
      {"TEXTOCCURS('a' IN 'b') = 1",
       "TEXTOCCURS function column argument must be a valid column name in filter expression"},
      {"TEXTOCCURS('a' IN Qty) = 1",
       "Type mismatch between TEXTOCCURS function and column function argument in filter "
       "expression"},
      {"LASTAUTOINC(1) = 1",
       "Type mismatch between LASTAUTOINC function and table name function argument in filter "
       "expression"},
      {"IDENT_CURRENT(Name) = 1",
       "IDENT_CURRENT table name function argument must be a string constant in filter expression"},
      {"EXTRACT(DAY FROM 'soon') = 1",
       "FROM argument of EXTRACT function must be a date, time, or timestamp in filter expression"},
      {"EXTRACT(DAY FROM Qty) = 1",
       "FROM argument of EXTRACT function must be a date, time, or timestamp in filter expression"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(ErrorOf(text), message) << text;
  // Names resolve without regard to case, in brackets, quotes and after the table's name.
  auto tree = Resolved("people.\"first name\" = [NAME]");
  EXPECT_EQ(tree->Left->FieldNumber, 15);
  EXPECT_EQ(tree->Left->Size, 11);
  EXPECT_EQ(tree->Right->FieldNumber, 1);
  EXPECT_EQ(Resolved("IFNULL(Qty, NULL, Big) = 1")->Left->Type, fcLargeInt);
  EXPECT_EQ(Resolved("COALESCE(NULL, Name, Notes)")->Subtype, fsMemo);
  EXPECT_EQ(Resolved("EXTRACT(HOUR FROM '10:30')")->Args[0]->Type, fcTime);
  EXPECT_EQ(Resolved("TEXTSEARCH('a b' IN Notes)")->Type, fcBoolean);
}

TEST(ExpressionParser, FilterCompilation) {
  TFilterCompileOptions plain;
  TFilterCompileOptions caseless;
  caseless.IgnoreCase = true;
  TFilterCompileOptions exact;
  exact.NoPartialCompare = true;
  // Turned around, folded and converted to the field's type.
  EXPECT_EQ(Compiled("2.7 < Qty"), "(Qty > 2)");
  EXPECT_EQ(Compiled("Qty >= -2.5"), "(Qty >= -2)");
  EXPECT_EQ(Compiled("Price = 2"), "(Price = 2)");
  EXPECT_EQ(Compiled("Amount = 1.005"), "(Amount = 1.01)");
  EXPECT_EQ(Compiled("Born = CAST(NULL AS DATE)"), "(Born = CAST(NULL))");
  EXPECT_EQ(Compiled("Born >= '2004-02-29'"), "(Born >= 2004-02-29)");
  EXPECT_EQ(Compiled("Qty IN (1.9, 2)"), "(Qty IN 1 2)");
  EXPECT_EQ(Compiled("Small = 65537"), "(Small = 1)");

  auto compiled = [](const std::string& text, TFilterCompileOptions options) {
    auto parser = FilterParser();
    auto tree = parser.ParseText(text, kFilter);
    parser.ResolveExpression(*tree, Fields());
    return parser.CompileFilter(*tree, options);
  };
  auto prefix = compiled("Name = 'Ab**'", plain);
  EXPECT_EQ(prefix->Kind, TExpKind::StringCompare);
  EXPECT_EQ(prefix->PrefixLength, 2);
  EXPECT_FALSE(prefix->Caseless);
  EXPECT_EQ(prefix->Right->AsString(), "Ab");
  auto star = compiled("Name = 'Ab*'", exact);
  EXPECT_EQ(star->Kind, TExpKind::Binary);
  EXPECT_EQ(star->Right->AsString(), "Ab*");
  auto ignore = compiled("Name <> 'Ab'", caseless);
  EXPECT_EQ(ignore->Kind, TExpKind::StringCompare);
  EXPECT_TRUE(ignore->Caseless);
  EXPECT_EQ(ignore->PrefixLength, 0);
  EXPECT_EQ(compiled("Name = 'A*b*'", plain)->Kind, TExpKind::Binary);
  EXPECT_EQ(compiled("Name = '*b'", plain)->Kind, TExpKind::Binary);

  auto like = compiled("Name NOT LIKE 'ab%%'", caseless);
  EXPECT_EQ(like->Kind, TExpKind::StringCompare);
  EXPECT_EQ(like->Op, TExpOp::NotEqual);
  EXPECT_EQ(like->PrefixLength, 2);
  EXPECT_FALSE(like->Caseless);
  EXPECT_EQ(compiled("Name LIKE 'a_b%'", plain)->Kind, TExpKind::Predicate);
  EXPECT_EQ(compiled("Name LIKE '%b%'", plain)->Kind, TExpKind::Predicate);

  EXPECT_TRUE(compiled("UPPER(Name) = UPPER('x')", plain)->Caseless);
  EXPECT_TRUE(compiled("LOWER(Name) IN (LOWER('x'), LOWER('y'))", plain)->Caseless);
  EXPECT_FALSE(compiled("UPPER(Name) = LOWER('x')", plain)->Caseless);
  EXPECT_FALSE(compiled("UPPER(Name) = 'X'", plain)->Caseless);
}

TEST(ExpressionParser, TextFormsOfValues) {
  TExpToken token;
  ASSERT_TRUE(ValueFromText("2004-2-29", fcDate, 0, token));
  EXPECT_EQ(ValueText(token), "2004-02-29");
  ASSERT_TRUE(ValueFromText(" 10:05:07.5 pm ", fcTime, 0, token));
  EXPECT_EQ(ValueText(token), "22:05:07.5");
  ASSERT_TRUE(ValueFromText("2004-2-29 10:05", fcTimeStamp, 0, token));
  EXPECT_EQ(ValueText(token), "2004-02-29 10:05");
  ASSERT_TRUE(ValueFromText("true", fcBoolean, 0, token));
  EXPECT_EQ(ValueText(token), "True");
  ASSERT_TRUE(ValueFromText("-1.25", fcBCD, 2, token));
  EXPECT_EQ(ValueText(token), "-1.25");
  ASSERT_TRUE(ValueFromText("0.1", fcFloat, 0, token));
  EXPECT_EQ(ValueText(token), "0.1");
  ASSERT_TRUE(ValueFromText("-32768", fcSmallInt, 0, token));
  EXPECT_EQ(ValueText(token), "-32768");
  EXPECT_FALSE(ValueFromText("32768", fcSmallInt, 0, token));
  EXPECT_FALSE(ValueFromText("1,5", fcFloat, 0, token));
  EXPECT_FALSE(ValueFromText("2004-2-30", fcDate, 0, token));
  EXPECT_EQ(ConversionErrorText("x", fcDate), "'x' is not a valid date");
  EXPECT_EQ(ConversionErrorText("x", fcTime), "'x' is not a valid time");
  EXPECT_EQ(ConversionErrorText("x", fcTimeStamp), "'x' is not a valid date and time");
  EXPECT_EQ(ConversionErrorText("x", fcBoolean), "'x' is not a valid boolean");
}

// Random and mutated texts either parse and resolve or raise the filter error.
TEST(ExpressionParser, FuzzNeverCrashes) {
  const char* env = std::getenv("VEVURA_EXPR_FUZZ");
  const int count = env ? std::atoi(env) : 3000;
  const std::vector<std::string> seeds = {
      "Name = 'abc' AND Qty > 2.5 OR NOT Flag",
      "SUBSTRING(Name FROM 1 FOR 2) LIKE 'a%' /* c */",
      "CAST(Born AS CHAR(10)) IN ('x', #65) AND Stamp BETWEEN '2004-1-1' AND CURRENT_TIMESTAMP",
      "IF(Flag THEN Price ELSE ROUND(Amount TO 2)) >= -1E3 || [First Name]",
      "EXTRACT(YEAR FROM Born) + POS('a' IN Notes) * LENGTH(\"Name\") <> 2147483648",
      "TRIM(BOTH ' ' FROM REPLACE('a' WITH 'b' IN Name)) IS NOT NULL AND COALESCE(Qty, W, 1) = 1",
  };
  const std::string alphabet = "()[]'\"#*/+-|=<>.,?:;EeAa01 _%\x01\xff\x80";
  std::mt19937 random(20261209);
  const auto fields = Fields();
  // Texts that compile are evaluated against a null record and one with values.
  auto laid_out = fields;
  std::vector<uint8_t> nulls(LayOutFields(laid_out), 0), values(nulls.size(), 0);
  SetStringField(values, laid_out[0], "abc", 0);
  SetIntegerField(values, laid_out[6], 0);
  SetDateField(values, laid_out[1], 3652059);
  SetTimeStampField(values, laid_out[11], -1e300);
  SetFloatField(values, laid_out[7], 1e308);
  TEvaluationContext context;
  context.Fields = &laid_out;
  for (int i = 0; i < count; ++i) {
    std::string text = seeds[random() % seeds.size()];
    if (i % 4 == 0) {
      text.clear();
      for (int n = static_cast<int>(random() % 40); n > 0; --n)
        text += alphabet[random() % alphabet.size()];
    } else {
      for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
        const size_t at = random() % (text.size() + 1);
        switch (random() % 3) {
          case 0:
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
          case 1:
            if (at < text.size()) text.erase(at, 1 + random() % 5);
            break;
          default:
            text = text.substr(0, at);
            break;
        }
      }
    }
    try {
      auto parser = FilterParser();
      auto tree = parser.ParseText(text, kFilter | (i % 3 == 0 ? poAggregates | poAllColumns : 0));
      parser.ResolveExpression(*tree, fields);
      TFilterCompileOptions options;
      options.IgnoreCase = i % 2 == 0;
      auto compiled = parser.CompileFilter(*tree, options);
      ASSERT_NE(compiled, nullptr);
      EvaluateExpression(*compiled, i % 2 ? values : nulls, context);
    } catch (const EVEVURAEngineError& error) {
      ASSERT_EQ(error.ErrorCode, VEVURA_INVALIDFILTER) << text;
    }
  }
}

}  // namespace
}  // namespace vevura
