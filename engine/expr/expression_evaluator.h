#pragma once
// Evaluation of a resolved (and, for a filter, compiled) expression tree for
// one record image.
//
// Every node yields a value token of its type with a null flag; the tree is
// left unchanged. Nulls follow each operator's own rule: = and <> treat two
// nulls as equal, the ordering comparisons of strings read a null as "", of
// other types are false when exactly one side is null; AND, OR and NOT read a
// null boolean as false; arithmetic with a null is null, division by zero is
// null; LIKE with a null is false. Strings compare under the table's
// language with regard to case, except compiled string comparisons, which
// may ignore case and compare only a prefix.
//
// Errors (a memo that cannot be read, a CAST of a text that does not convert)
// are raised as engine errors with the evaluator's error code.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/expr/exp_token.h"
#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/keys/word_keys.h"

namespace vevura {

//! Reads the whole value of a BLOB field (memo text or bytes) of a record.
using TBlobReader =
    std::function<std::vector<uint8_t>(std::span<const uint8_t> record, const TFieldDescriptor&)>;

struct TEvaluationContext {
  const std::vector<TFieldDescriptor>* Fields = nullptr;  //!< laid out, as the tree was resolved
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  //! Reads BLOB fields; without one a BLOB field reads as null.
  TBlobReader ReadBlob;
  //! Stop words and word characters of TEXTSEARCH and TEXTOCCURS; without
  //! them the word index's defaults in the table's language.
  const TTextIndexRules* TextRules = nullptr;
  uint16_t ErrorCode = 0;  //!< raised for evaluation errors (0: VEVURA_INVALIDFILTER)
  std::string TableName;
};

//! The value of the tree for the record: a token without operands.
TExpToken EvaluateExpression(const TExpToken& tree, std::span<const uint8_t> record,
                             const TEvaluationContext& context);

//! True when a filter tree's value for the record is a true (non-zero,
//! non-null) boolean.
bool RecordPasses(const TExpToken& tree, std::span<const uint8_t> record,
                  const TEvaluationContext& context);

//! LIKE matching of value against pattern ("%" any run, "_" one character),
//! characters compared under the language with regard to case.
bool LikeMatches(std::string_view value, std::string_view pattern, uint16_t language_id,
                 uint16_t sort_id);

}  // namespace vevura
