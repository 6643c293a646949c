#pragma once
// The expression parser: text to a tree of TExpToken nodes, resolution of
// the tree against a table's fields with its type checks, and compilation of
// a filter tree with the filter's options.
//
// Every error is raised with RaiseEngineError, the code given by the
// parser's user (VEVURA_INVALIDFILTER for filters), the table name and a
// detail text that ends with " in " and the name of what is parsed. After an
// error the tree built so far is discarded.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/exp_token.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

//! Kind of the current token.
enum class TLexToken : uint8_t {
  End = 0,
  Symbol,
  BracketedName,
  String,
  QuotedName,
  Character,  //!< #n
  Integer,
  Real,
  Single,  //!< any other character
};

//! Parser options: what an expression may use besides the basic language.
enum TParserOption : uint32_t {
  poAggregates = 1,
  poAllColumns = 2,
  poExtendedPredicates = 4,
  poSubSelects = 8,
};

//! How a filter is compiled.
struct TFilterCompileOptions {
  bool IgnoreCase = false;
  bool NoPartialCompare = false;
};

class TExpressionParser {
 public:
  //! error_code is raised for every error; what_name ("filter expression")
  //! and table_name go into the messages.
  TExpressionParser(uint16_t error_code, std::string what_name, std::string table_name);

  void SetText(const std::string& text);
  TLexToken NextToken();
  //! The current token without quotes or brackets, doubled quotes undoubled.
  std::string TokenText() const;
  TLexToken TokenKind() const { return kind_; }
  bool IsKeyword(const char* word) const;
  bool IsSymbol(char c) const;
  //! Parses one expression from the current token; the token after it is
  //! left current.
  std::unique_ptr<TExpToken> ParseExpression(uint32_t options);
  //! SetText, then one expression that must take the whole text.
  std::unique_ptr<TExpToken> ParseText(const std::string& text, uint32_t options);

  //! Resolves field names against fields and checks types bottom-up.
  void ResolveExpression(TExpToken& tree, const std::vector<TFieldDescriptor>& fields);
  //! Turns comparisons with the field on the right around and compiles a new
  //! tree with the filter's options.
  std::unique_ptr<TExpToken> CompileFilter(const TExpToken& tree,
                                           const TFilterCompileOptions& options);

 private:
  [[noreturn]] void Fail(const std::string& message) const;
  //! message + the current token + "'" + " in " + the name.
  [[noreturn]] void FailFound(const std::string& message) const;
  void SkipBlanksAndComments();
  bool IsAdjacentSymbol(char c) const;
  std::unique_ptr<TExpToken> ParseOr();
  std::unique_ptr<TExpToken> ParseAnd();
  std::unique_ptr<TExpToken> ParseNot();
  std::unique_ptr<TExpToken> ParsePredicate();
  std::unique_ptr<TExpToken> ParseSum();
  std::unique_ptr<TExpToken> ParseProduct();
  std::unique_ptr<TExpToken> ParseFactor();
  std::unique_ptr<TExpToken> ParsePrimary();
  std::unique_ptr<TExpToken> ParseFunction(TExpOp op, const std::string& name);
  void ParseCastType(TExpToken& cast);
  int ReadTypeArgument(const std::string& message);
  std::unique_ptr<TExpToken> ParseConstant();
  bool NextIsLeftParen();
  void Expect(bool ok, const std::string& message);

  void Resolve(TExpToken& node, const std::vector<TFieldDescriptor>& fields);
  void CheckNode(TExpToken& node);
  void CheckFunction(TExpToken& node);
  void ConvertDateConstant(TExpToken& constant, uint8_t type);
  std::string Kind(const TExpToken& node) const;
  std::unique_ptr<TExpToken> Compile(const TExpToken& node, const TFilterCompileOptions& options);

  uint16_t error_code_;
  std::string what_;
  std::string table_;
  std::string text_;
  size_t pos_ = 0;
  size_t start_ = 0;
  TLexToken kind_ = TLexToken::End;
  uint32_t options_ = 0;
};

//! True when a binary operator accepts operands of these types (0 is NULL).
bool BinaryOperandsAccepted(TExpOp op, uint8_t left_type, uint8_t left_subtype, uint8_t right_type,
                            uint8_t right_subtype);

}  // namespace vevura
