// Filters: adding and removing them, their optimization levels, the visible
// records computed from index ranges and record-by-record evaluation, and
// the bitmaps kept current while the cursor itself changes records.

#include <algorithm>
#include <cmath>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/records_bitmap_stack.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/bound_keys.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/word_keys.h"
#include "engine/storage/language/collation.h"

namespace vevura {
namespace {

//! A bitmap from the process-wide pool for the length of a computation.
class TScratchBitmap {
 public:
  explicit TScratchBitmap(int32_t size) : bitmap_(RecordsBitmapStack().Take()) {
    bitmap_->SetSize(size);
    bitmap_->ClearAll();
  }
  TScratchBitmap(const TScratchBitmap&) = delete;
  TScratchBitmap& operator=(const TScratchBitmap&) = delete;
  ~TScratchBitmap() { ReturnRecordsBitmap(std::move(bitmap_)); }
  TRecordsBitmap& operator*() { return *bitmap_; }
  TRecordsBitmap* operator->() { return bitmap_.get(); }

 private:
  std::unique_ptr<TRecordsBitmap> bitmap_;
};

bool IsIntegerType(uint8_t type) {
  return type == fcSmallInt || type == fcInteger || type == fcWord || type == fcLargeInt ||
         type == fcInteger32;
}

//! Writes constant into field when the field's type holds it exactly, so
//! that the key built from the record orders as the constant does.
bool PutConstant(TRecordImage record, const TFieldDescriptor& field, const TExpToken& constant,
                 uint32_t lcid) {
  if (constant.IsNull) {
    if (field.IsAutoInc()) return false;
    SetFieldNull(record, field);
    return true;
  }
  switch (field.Type) {
    case fcString: {
      if (constant.Type != fcString) return false;
      const std::string text = constant.AsString();
      if (text.size() > field.Size) return false;
      SetStringField(record, field, text, lcid);
      return GetStringField(record, field) == text;
    }
    case fcSmallInt:
    case fcInteger:
    case fcWord:
    case fcLargeInt:
    case fcInteger32: {
      if (!IsIntegerType(constant.Type)) return false;
      const int64_t value = constant.AsLargeInt();
      if (field.Type == fcSmallInt) {
        if (value < INT16_MIN || value > INT16_MAX) return false;
        SetSmallIntField(record, field, static_cast<int16_t>(value));
      } else if (field.Type == fcWord) {
        if (value < 0 || value > UINT16_MAX) return false;
        SetWordField(record, field, static_cast<uint16_t>(value));
      } else if (field.Type == fcLargeInt) {
        SetLargeIntField(record, field, value);
      } else {
        if (value < INT32_MIN || value > INT32_MAX) return false;
        if (field.IsAutoInc()) {
          SetRecordRowId(record, static_cast<int32_t>(value));
          return true;
        }
        SetIntegerField(record, field, static_cast<int32_t>(value));
      }
      return true;
    }
    case fcFloat: {
      double value;
      if (constant.Type == fcFloat) {
        value = constant.AsFloat();
      } else if (IsIntegerType(constant.Type)) {
        const int64_t whole = constant.AsLargeInt();
        if (whole > (int64_t{1} << 53) || whole < -(int64_t{1} << 53)) return false;
        value = static_cast<double>(whole);
      } else {
        return false;
      }
      // Minus zero equals zero but has a key of its own.
      if (std::isnan(value) || value == 0.0) return false;
      SetFloatField(record, field, value);
      return true;
    }
    case fcDate:
      if (constant.Type != fcDate) return false;
      SetDateField(record, field, static_cast<int32_t>(constant.AsLargeInt()));
      return true;
    case fcTime:
      if (constant.Type != fcTime) return false;
      SetTimeField(record, field, static_cast<int32_t>(constant.AsLargeInt()));
      return true;
    case fcTimeStamp:
      if (constant.Type != fcTimeStamp) return false;
      SetTimeStampField(record, field, constant.AsFloat());
      return true;
    case fcBoolean:
      if (constant.Type != fcBoolean) return false;
      SetBooleanField(record, field, constant.AsBoolean() ? 1 : 0);
      return true;
    default:
      return false;
  }
}

bool IsComparison(TExpOp op) {
  return op == TExpOp::Equal || op == TExpOp::NotEqual || op == TExpOp::Less ||
         op == TExpOp::LessEqual || op == TExpOp::Greater || op == TExpOp::GreaterEqual;
}

//! The field node and constants of a condition on one field, or nullptr.
const TExpToken* ConditionField(const TExpToken& node, std::vector<const TExpToken*>* constants) {
  const TExpToken* field = node.Left.get();
  if (field == nullptr || field->Kind != TExpKind::Field) return nullptr;
  if ((node.Kind == TExpKind::Binary && IsComparison(node.Op)) ||
      node.Kind == TExpKind::StringCompare) {
    if (node.Right == nullptr || node.Right->Kind != TExpKind::Constant) return nullptr;
    constants->push_back(node.Right.get());
    return field;
  }
  if (node.Kind != TExpKind::Predicate) return nullptr;
  const bool between = node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween;
  const bool in = node.Op == TExpOp::In || node.Op == TExpOp::NotIn;
  if (!between && !in) return nullptr;
  if (between && node.Args.size() != 2) return nullptr;
  if (in && node.Args.empty()) return nullptr;
  for (const auto& arg : node.Args) {
    if (arg->Kind != TExpKind::Constant) return nullptr;
    constants->push_back(arg.get());
  }
  return field;
}

}  // namespace

TFilter::~TFilter() {
  ReturnRecordsBitmap(std::move(bitmap_));
}

// ----- Adding and removing -----

TFilter* TDataCursor::AddFilter(const std::string& text, const TFilterSettings& settings) {
  RequireOpen();
  if (filters_.size() >= kMaxCursorFilters) Raise(VEVURA_INTERNALLIMIT);
  TExpressionParser parser(VEVURA_INVALIDFILTER, "filter expression", target_.TableName);
  // A filter may use LIKE, BETWEEN, IN and IS NULL, and nothing else beyond
  // the basic language.
  std::unique_ptr<TExpToken> tree = parser.ParseText(text, poExtendedPredicates);
  parser.ResolveExpression(*tree, Fields());
  if (tree->Type != fcBoolean) {
    RaiseFilterError("filter expression must be a boolean expression");
  }
  TFilterCompileOptions options;
  options.IgnoreCase = settings.IgnoreCase;
  options.NoPartialCompare = settings.NoPartialCompare;
  return AddFilter(parser.CompileFilter(*tree, options), settings);
}

TFilter* TDataCursor::AddFilter(std::unique_ptr<TExpToken> compiled,
                                const TFilterSettings& settings) {
  RequireOpen();
  if (filters_.size() >= kMaxCursorFilters) Raise(VEVURA_INTERNALLIMIT);
  if (compiled == nullptr) {
    RaiseFilterError("no expression");
  }
  std::unique_ptr<TFilter> filter(new TFilter);
  filter->expression_ = std::move(compiled);
  filter->settings_ = settings;
  filter->level_ = NodeLevel(*filter, *filter->expression_);
  return InsertFilter(std::move(filter));
}

TFilter* TDataCursor::AddCallbackFilter(TFilterCallback callback) {
  RequireOpen();
  if (filters_.size() >= kMaxCursorFilters) Raise(VEVURA_INTERNALLIMIT);
  if (callback == nullptr) {
    RaiseFilterError("no expression");
  }
  std::unique_ptr<TFilter> filter(new TFilter);
  filter->callback_ = std::move(callback);
  return InsertFilter(std::move(filter));
}

void TDataCursor::RaiseFilterError(const std::string& detail) const {
  RaiseEngineError(VEVURA_INVALIDFILTER, "", "", directory_.ErrorName(), target_.TableName, "", "",
                   detail);
}

TFilter* TDataCursor::InsertFilter(std::unique_ptr<TFilter> filter) {
  filter->bitmap_ = RecordsBitmapStack().Take();
  TFilter* raw = filter.get();
  auto place = filters_.end();
  if (!raw->IsCallback()) {
    place = std::find_if(filters_.begin(), filters_.end(),
                         [](const std::unique_ptr<TFilter>& f) { return f->IsCallback(); });
  }
  filters_.insert(place, std::move(filter));
  return raw;
}

size_t TDataCursor::FilterIndex(const TFilter* filter) const {
  for (size_t i = 0; i < filters_.size(); ++i) {
    if (filters_[i].get() == filter) return i;
  }
  Raise(VEVURA_NOSUCHFILTER);
}

void TDataCursor::RemoveFilter(TFilter* filter) {
  RequireOpen();
  if (filter == nullptr) {
    filters_.clear();
  } else {
    filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(FilterIndex(filter)));
  }
  FiltersChanged();
}

void TDataCursor::ActivateFilter(TFilter* filter) {
  SetFilterActive(filter, true);
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  SetFilterActive(filter, false);
}

void TDataCursor::SetFilterActive(TFilter* filter, bool active) {
  RequireOpen();
  if (filter == nullptr) {
    for (auto& f : filters_) f->active_ = active;
  } else {
    filters_[FilterIndex(filter)]->active_ = active;
  }
  FiltersChanged();
}

int TDataCursor::GetFilterOptimizeLevel(const TFilter* filter) const {
  return filters_[FilterIndex(filter)]->level_;
}

void TDataCursor::RefreshFilters() {
  RequireOpen();
  FiltersChanged();
}

void TDataCursor::FiltersChanged() {
  ReadBracket([&] {
    const TBookmark here = GetBookmark();
    const bool bof = bof_;
    const bool eof = eof_;
    filtering_ = std::any_of(filters_.begin(), filters_.end(),
                             [](const std::unique_ptr<TFilter>& f) { return f->active_; });
    ComputeVisible();
    pos_.Clear();
    path_.Clear();
    Relocate(here, bof, eof);
    ReadCurrentRecord();
  });
}

// ----- Optimization levels -----

int TDataCursor::NodeLevel(TFilter& filter, TExpToken& node) {
  int level = kFilterNotOptimized;
  auto costly = [&filter](const TExpToken& n) { return filter.costly_.count(&n) > 0; };
  if (node.Kind == TExpKind::Unary && node.Op == TExpOp::Not && node.Left != nullptr) {
    level = NodeLevel(filter, *node.Left);
    if (costly(*node.Left)) filter.costly_[&node] = true;
  } else if (node.Kind == TExpKind::Binary && (node.Op == TExpOp::And || node.Op == TExpOp::Or)) {
    int left = NodeLevel(filter, *node.Left);
    int right = NodeLevel(filter, *node.Right);
    // Next to a side its index answers, a condition kept from its index by
    // the cost rule costs less from the index than record by record.
    if (left == kFilterFullyOptimized && costly(*node.Right)) {
      right = RaiseLevel(filter, *node.Right);
    } else if (right == kFilterFullyOptimized && costly(*node.Left)) {
      left = RaiseLevel(filter, *node.Left);
    }
    if (left == kFilterFullyOptimized && right == kFilterFullyOptimized) {
      level = kFilterFullyOptimized;
    } else if (node.Op == TExpOp::And &&
               (left != kFilterNotOptimized || right != kFilterNotOptimized)) {
      if (right > left) std::swap(node.Left, node.Right);
      level = kFilterPartlyOptimized;
    }
  } else if (PlanWordSearch(node, nullptr)) {
    level = kFilterFullyOptimized;
  } else if (TConditionPlan plan; PlanCondition(node, &plan)) {
    level = kFilterFullyOptimized;
    if (filter.settings_.CostRule && filter.settings_.Estimates) {
      const int64_t keys = EstimateCondition(plan);
      const int64_t active = table_->IndexFile().GetActiveRecordCount();
      if (keys >= 0 && keys > active * 9 / 10) {
        level = kFilterNotOptimized;
        filter.costly_[&node] = true;
      }
    }
  }
  filter.levels_[&node] = level;
  return level;
}

int TDataCursor::RaiseLevel(TFilter& filter, const TExpToken& node) {
  for (auto it = filter.costly_.begin(); it != filter.costly_.end();) {
    it = it->first == &node ? filter.costly_.erase(it) : std::next(it);
  }
  filter.levels_[&node] = kFilterFullyOptimized;
  // A NOT passes the level on to its operand.
  if (node.Kind == TExpKind::Unary && node.Op == TExpOp::Not && node.Left != nullptr) {
    RaiseLevel(filter, *node.Left);
  }
  return kFilterFullyOptimized;
}

int64_t TDataCursor::EstimateCondition(const TConditionPlan& plan) {
  if (table_->IndexFile().GetIndexDescriptor(plan.Index).NoCounts != 0) return -1;
  const TKeyContext& c = Keys(plan.Index).Context;
  const TExpToken& node = *plan.Node;
  int64_t keys = 0;
  ReadBracket([&] {
    TBTree tree = EditTree(plan.Index);
    std::vector<uint8_t> low(c.KeyLength);
    std::vector<uint8_t> high(c.KeyLength);
    LowestKey(c, low.data());
    HighestKey(c, high.data());
    auto key_of = [&](const TExpToken& constant) {
      std::vector<uint8_t> key;
      if (!ConstantKey(plan, constant, &key)) Raise(VEVURA_INVALIDFILTER);
      return key;
    };
    auto count = [&](const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
      const int64_t n = tree.CountRange(from.data(), to.data(), plan.Prefix);
      CheckRestart();
      return n;
    };
    switch (node.Op) {
      case TExpOp::Less:
      case TExpOp::LessEqual:
        keys = count(low, key_of(*node.Right));
        break;
      case TExpOp::Greater:
      case TExpOp::GreaterEqual:
        keys = count(key_of(*node.Right), high);
        break;
      case TExpOp::Between:
      case TExpOp::NotBetween:
        keys = count(key_of(*node.Args[0]), key_of(*node.Args[1]));
        break;
      case TExpOp::In:
      case TExpOp::NotIn:
        keys = 0;
        for (const auto& arg : node.Args) {
          const std::vector<uint8_t> key = key_of(*arg);
          keys += count(key, key);
        }
        break;
      default: {
        const std::vector<uint8_t> key = key_of(*node.Right);
        keys = count(key, key);
      }
    }
    if (node.Op == TExpOp::NotEqual || node.Op == TExpOp::NotIn || node.Op == TExpOp::NotBetween) {
      keys = std::max<int64_t>(0, table_->IndexFile().GetActiveRecordCount() - keys);
    }
  });
  return keys;
}

bool TDataCursor::PlanCondition(const TExpToken& node, TConditionPlan* plan) const {
  std::vector<const TExpToken*> constants;
  const TExpToken* field_node = ConditionField(node, &constants);
  if (field_node == nullptr || field_node->FieldNumber < 1 ||
      static_cast<size_t>(field_node->FieldNumber) > Fields().size()) {
    return false;
  }
  const TFieldDescriptor& field = Fields()[static_cast<size_t>(field_node->FieldNumber) - 1];
  const bool string_field = field.Type == fcString;
  const bool ordering = node.Op != TExpOp::Equal && node.Op != TExpOp::NotEqual &&
                        node.Op != TExpOp::In && node.Op != TExpOp::NotIn;
  for (const TExpToken* constant : constants) {
    // An ordering against a null is decided by the evaluator's own rule.
    if (ordering && constant->IsNull && !string_field) return false;
  }
  const bool caseless = node.Kind == TExpKind::StringCompare && node.Caseless;
  for (uint8_t index = 0; index <= kMaxSecondaryIndexes; ++index) {
    if (keys_[index] == nullptr) continue;
    const TKeyContext& c = keys_[index]->Context;
    if (c.Kind != kkOrdinary || c.Slots.empty() || c.Descending || c.Slots[0].Descending) {
      continue;
    }
    if (c.Slots[0].Field.FieldNumber != field.FieldNumber) continue;
    if (string_field && c.CaseInsensitive != caseless) continue;
    // A case-insensitive index of a table with a language orders its
    // upper-cased keys exactly, which tells apart what comparing without
    // case takes as equal ("ß" and "ss"): its ranges would lose records.
    if (string_field && caseless && c.HasLanguage()) continue;
    TConditionPlan candidate{&node, index, c.Slots[0].KeySize + 1u, string_field};
    if (node.Kind == TExpKind::StringCompare && node.PrefixLength > 0) {
      // The keys that begin with the leading characters. A language's
      // collation does not keep them together ("cafes" sorts between "café"
      // and "cafés"), so only byte order answers it.
      if (c.HasLanguage() || static_cast<size_t>(node.PrefixLength) > c.Slots[0].KeySize) {
        continue;
      }
      candidate.Prefix = 1u + static_cast<size_t>(node.PrefixLength);
    }
    std::vector<uint8_t> key;
    bool exact = true;
    for (const TExpToken* constant : constants) {
      exact = exact && ConstantKey(candidate, *constant, &key);
    }
    if (!exact) continue;
    if (plan != nullptr) *plan = candidate;
    return true;
  }
  return false;
}

bool TDataCursor::ConstantKey(const TConditionPlan& plan, const TExpToken& constant,
                              std::vector<uint8_t>* key) const {
  const TKeyContext& c = Keys(plan.Index).Context;
  std::vector<uint8_t> record(record_size_, 0);
  if (!PutConstant(record, c.Slots[0].Field, constant, TableLcid())) return false;
  key->assign(c.KeyLength, 0);
  BuildKey(c, record, key->data());
  return true;
}

bool TDataCursor::PlanWordSearch(const TExpToken& node, std::vector<TWordRange>* ranges) const {
  if (node.Kind != TExpKind::Function || node.Op != TExpOp::TextSearch || node.Args.size() != 2) {
    return false;
  }
  const TExpToken& search = *node.Args[0];
  const TExpToken& field = *node.Args[1];
  if (search.Kind != TExpKind::Constant || search.IsNull || search.Type != fcString ||
      field.Kind != TExpKind::Field || text_rules_ == nullptr || keys_[kTextIndex] == nullptr) {
    return false;
  }
  const TIndexDescriptor d = table_->IndexFile().GetIndexDescriptor(kTextIndex);
  const auto* fields_end =
      d.FieldNumbers.begin() + std::clamp<int>(d.FieldCount, 0, kMaxIndexFields);
  if (std::find(d.FieldNumbers.begin(), fields_end, field.FieldNumber) == fields_end) return false;
  const TKeyContext& c = Keys(kTextIndex).Context;
  const TTextIndexRules& rules = *text_rules_;
  std::vector<TWordRange> found;
  const TLanguageStringList words = ExtractWords(rules, search.AsString(), true);
  for (const std::string& word : words.Strings()) {
    const size_t end = word.find_last_not_of('*');
    const std::string head = end == std::string::npos ? "" : word.substr(0, end + 1);
    const bool prefix = head.size() < word.size();
    if (!prefix && rules.IsStopWord(word)) continue;
    if (prefix) {
      // The beginning of a word: the keys that start with it, which byte
      // order alone keeps together, and which miss the stop words it begins
      // (record by record they count) and the cut ends of long words.
      if (c.HasLanguage() || head.empty() || head.size() >= kMaxWordLength) return false;
      for (const std::string& stop : rules.StopWords().Strings()) {
        if (stop.size() >= head.size() &&
            CompareText(0, 0, stop.data(), head.data(), true, head.size()) == 0) {
          return false;
        }
      }
    }
    TWordRange range;
    range.Low.resize(kTextKeyLength);
    BuildTextKey(c, field.FieldNumber, head, 0, range.Low.data());
    range.High = range.Low;
    // FillKey counts from byte 2 of a word key: head.size() + 1 keeps the
    // head, kTextWordSize + 2 the whole word; the row id always goes.
    const size_t kept = prefix ? head.size() + 1 : kTextWordSize + 2u;
    FillKeyLow(c, range.Low.data(), kept);
    FillKeyHigh(c, range.High.data(), kept);
    found.push_back(std::move(range));
  }
  // A search without a word to look up is evaluated record by record.
  if (found.empty()) return false;
  if (ranges != nullptr) *ranges = std::move(found);
  return true;
}

// ----- Answering from indexes -----

void TDataCursor::CollectRange(const TConditionPlan& plan, const uint8_t* low, const uint8_t* high,
                               TRecordsBitmap& out) {
  TBTree tree = EditTree(plan.Index);
  auto collect = [&](const uint8_t* from, const uint8_t* to, TRecordsBitmap& into) {
    tree.CollectReferences(from, to, plan.Prefix,
                           [&into](uint32_t n) { into.Set(static_cast<int32_t>(n)); });
    CheckRestart();
  };
  const TKeyContext& c = Keys(plan.Index).Context;
  // A range that holds more than half of the active records costs less to
  // answer by the keys outside it: every active record has one key in the
  // index, so the records of the range are the active ones that are not
  // outside. Counting needs the key counts of the inner pages, and the
  // neighbouring prefixes need byte order.
  if (plan.Complement && !c.HasLanguage() &&
      table_->IndexFile().GetIndexDescriptor(plan.Index).NoCounts == 0) {
    const int64_t inside = tree.CountRange(low, high, plan.Prefix);
    CheckRestart();
    if (inside * 2 > table_->IndexFile().GetActiveRecordCount()) {
      std::vector<uint8_t> edge(c.KeyLength);
      TScratchBitmap outside(out.Size());
      std::vector<uint8_t> below(low, low + c.KeyLength);
      PriorKey(c, below.data(), plan.Prefix);
      if (CompareKeys(c, below.data(), low, plan.Prefix) < 0) {
        LowestKey(c, edge.data());
        collect(edge.data(), below.data(), *outside);
      }
      std::vector<uint8_t> above(high, high + c.KeyLength);
      NextKey(c, above.data(), plan.Prefix);
      if (CompareKeys(c, above.data(), high, plan.Prefix) > 0) {
        HighestKey(c, edge.data());
        collect(above.data(), edge.data(), *outside);
      }
      outside->Not();
      out.Or(*outside);
      return;
    }
  }
  collect(low, high, out);
}

void TDataCursor::CollectEqual(const TConditionPlan& plan, const TExpToken& constant,
                               TRecordsBitmap& out) {
  std::vector<uint8_t> key;
  // PlanCondition built every key of the condition already.
  if (!ConstantKey(plan, constant, &key)) Raise(VEVURA_INVALIDFILTER);
  CollectRange(plan, key.data(), key.data(), out);
}

void TDataCursor::NarrowByCondition(const TConditionPlan& plan, TRecordsBitmap& b) {
  const TExpToken& node = *plan.Node;
  const TKeyContext& c = Keys(plan.Index).Context;
  const int32_t size = b.Size();
  TScratchBitmap hits(size);
  std::vector<uint8_t> lowest(c.KeyLength);
  std::vector<uint8_t> highest(c.KeyLength);
  LowestKey(c, lowest.data());
  HighestKey(c, highest.data());
  // Ordering comparisons of other types than strings are false for a null
  // field, whose key sorts first; a null string reads as "".
  auto drop_nulls = [&](TRecordsBitmap& set) {
    if (plan.StringField || c.Slots[0].Field.IsAutoInc()) return;
    TExpToken null_constant;
    null_constant.SetNull();
    TScratchBitmap nulls(size);
    CollectEqual(plan, null_constant, *nulls);
    nulls->Not();
    set.And(*nulls);
  };
  auto up_to = [&](const TExpToken& constant, bool inclusive, TRecordsBitmap& set) {
    std::vector<uint8_t> key;
    if (!ConstantKey(plan, constant, &key)) Raise(VEVURA_INVALIDFILTER);
    CollectRange(plan, lowest.data(), key.data(), set);
    drop_nulls(set);
    if (!inclusive) {
      TScratchBitmap equal(size);
      CollectRange(plan, key.data(), key.data(), *equal);
      equal->Not();
      set.And(*equal);
    }
  };
  auto from = [&](const TExpToken& constant, bool inclusive, TRecordsBitmap& set) {
    std::vector<uint8_t> key;
    if (!ConstantKey(plan, constant, &key)) Raise(VEVURA_INVALIDFILTER);
    CollectRange(plan, key.data(), highest.data(), set);
    if (!inclusive) {
      TScratchBitmap equal(size);
      CollectRange(plan, key.data(), key.data(), *equal);
      equal->Not();
      set.And(*equal);
    }
  };
  bool complement = false;
  switch (node.Op) {
    case TExpOp::Equal:
      CollectEqual(plan, *node.Right, *hits);
      break;
    case TExpOp::NotEqual:
      CollectEqual(plan, *node.Right, *hits);
      complement = true;
      break;
    case TExpOp::Less:
      up_to(*node.Right, false, *hits);
      break;
    case TExpOp::LessEqual:
      up_to(*node.Right, true, *hits);
      break;
    case TExpOp::Greater:
      from(*node.Right, false, *hits);
      break;
    case TExpOp::GreaterEqual:
      from(*node.Right, true, *hits);
      break;
    case TExpOp::Between:
    case TExpOp::NotBetween: {
      from(*node.Args[0], true, *hits);
      TScratchBitmap upper(size);
      up_to(*node.Args[1], true, *upper);
      hits->And(*upper);
      complement = node.Op == TExpOp::NotBetween;
      break;
    }
    case TExpOp::In:
    case TExpOp::NotIn:
      for (const auto& arg : node.Args) CollectEqual(plan, *arg, *hits);
      complement = node.Op == TExpOp::NotIn;
      break;
    default:
      Raise(VEVURA_INVALIDFILTER);  // PlanCondition takes no other operator
  }
  if (complement) hits->Not();
  b.And(*hits);
}

bool TDataCursor::ConditionSpan(const TConditionPlan& plan, TSpan* span) const {
  if (plan.Index != active_index_ || record_number_order_) return false;
  const TExpToken& node = *plan.Node;
  const TKeyContext& c = Keys(plan.Index).Context;
  auto key_of = [&](const TExpToken& constant) {
    std::vector<uint8_t> key;
    if (!ConstantKey(plan, constant, &key)) Raise(VEVURA_INVALIDFILTER);
    return key;
  };
  span->Low.assign(c.KeyLength, 0);
  span->High.assign(c.KeyLength, 0);
  LowestKey(c, span->Low.data());
  HighestKey(c, span->High.data());
  span->Prefix = plan.Prefix;
  switch (node.Op) {
    case TExpOp::Equal:
      span->Low = key_of(*node.Right);
      span->High = span->Low;
      return true;
    case TExpOp::Less:
    case TExpOp::LessEqual:
      span->High = key_of(*node.Right);
      return true;
    case TExpOp::Greater:
    case TExpOp::GreaterEqual:
      span->Low = key_of(*node.Right);
      return true;
    case TExpOp::Between:
      span->Low = key_of(*node.Args[0]);
      span->High = key_of(*node.Args[1]);
      return true;
    case TExpOp::In:
      span->Low = key_of(*node.Args[0]);
      span->High = span->Low;
      for (const auto& arg : node.Args) {
        std::vector<uint8_t> key = key_of(*arg);
        if (CompareSpan(key.data(), span->Low.data(), span->Prefix) < 0) {
          span->Low = key;
        } else if (CompareSpan(key.data(), span->High.data(), span->Prefix) > 0) {
          span->High = std::move(key);
        }
      }
      return true;
    default:
      return false;
  }
}

bool TDataCursor::NodeSpan(const TExpToken& node, TSpan* span) const {
  if (node.Kind == TExpKind::Binary && (node.Op == TExpOp::And || node.Op == TExpOp::Or)) {
    TSpan other;
    const bool left = NodeSpan(*node.Left, span);
    const bool right = NodeSpan(*node.Right, &other);
    if (node.Op == TExpOp::Or && (!left || !right)) return false;
    if (!left || !right) {
      if (right) *span = std::move(other);
      return left || right;
    }
    span->Narrow(*this, other, node.Op == TExpOp::And);
    return true;
  }
  TConditionPlan plan;
  return PlanCondition(node, &plan) && ConditionSpan(plan, span);
}

void TDataCursor::TSpan::Narrow(const TDataCursor& cursor, const TSpan& other, bool intersect) {
  // Compared over the shorter prefix: the span can only widen.
  Prefix = std::min(Prefix, other.Prefix);
  const bool lower = cursor.CompareSpan(other.Low.data(), Low.data(), Prefix) < 0;
  const bool higher = cursor.CompareSpan(other.High.data(), High.data(), Prefix) > 0;
  if (lower != intersect) Low = other.Low;
  if (higher != intersect) High = other.High;
}

int TDataCursor::CompareSpan(const uint8_t* a, const uint8_t* b, size_t prefix) const {
  return Keys(active_index_).Comparer.CompareKeys(a, b, prefix);
}

void TDataCursor::ComputeSpan() {
  span_.reset();
  if (!filtering_ || record_number_order_) return;
  for (const auto& filter : filters_) {
    if (!filter->active_ || filter->IsCallback()) continue;
    TSpan span;
    if (!NodeSpan(*filter->expression_, &span)) continue;
    if (span_ == nullptr) {
      span_ = std::make_unique<TSpan>(std::move(span));
    } else {
      span_->Narrow(*this, span, true);
    }
  }
}

void TDataCursor::NarrowByNode(const TFilter& filter, TExpToken& node, TRecordsBitmap& b) {
  auto level = [&filter](const TExpToken& n) {
    auto it = filter.levels_.find(&n);
    return it == filter.levels_.end() ? kFilterNotOptimized : it->second;
  };
  if (b.Count() == 0) return;
  if (!node.RefersToField()) {
    std::vector<uint8_t> blank(record_size_, 0);
    if (!RecordPasses(node, blank, EvaluationContext())) b.ClearAll();
    return;
  }
  if (node.Kind == TExpKind::Binary && node.Op == TExpOp::And &&
      level(node) != kFilterNotOptimized) {
    NarrowByNode(filter, *node.Left, b);
    NarrowByNode(filter, *node.Right, b);
    return;
  }
  if (node.Kind == TExpKind::Binary && node.Op == TExpOp::Or &&
      level(node) == kFilterFullyOptimized) {
    // The terms of a chain of ORs gather in one bitmap: an equality or IN
    // list sets the bits of its keys; any other term narrows a copy of b.
    std::vector<TExpToken*> terms;
    std::vector<TExpToken*> pending{&node};
    while (!pending.empty()) {
      TExpToken* n = pending.back();
      pending.pop_back();
      if (n->Kind == TExpKind::Binary && n->Op == TExpOp::Or &&
          level(*n) == kFilterFullyOptimized) {
        pending.push_back(n->Right.get());
        pending.push_back(n->Left.get());
      } else {
        terms.push_back(n);
      }
    }
    TScratchBitmap any(b.Size());
    for (TExpToken* term : terms) {
      TConditionPlan plan;
      if ((term->Op == TExpOp::Equal || term->Op == TExpOp::In) &&
          level(*term) == kFilterFullyOptimized && PlanCondition(*term, &plan)) {
        plan.Complement = filter.settings_.ComplementRule;
        if (term->Op == TExpOp::Equal) {
          CollectEqual(plan, *term->Right, *any);
        } else {
          for (const auto& arg : term->Args) CollectEqual(plan, *arg, *any);
        }
      } else {
        TScratchBitmap part(b.Size());
        part->Assign(b);
        NarrowByNode(filter, *term, *part);
        any->Or(*part);
      }
    }
    b.And(*any);
    return;
  }
  if (node.Kind == TExpKind::Unary && node.Op == TExpOp::Not &&
      level(*node.Left) == kFilterFullyOptimized) {
    TScratchBitmap passing(b.Size());
    passing->Assign(b);
    NarrowByNode(filter, *node.Left, *passing);
    passing->Not();
    b.And(*passing);
    return;
  }
  if (level(node) == kFilterFullyOptimized) {
    std::vector<TWordRange> words;
    if (PlanWordSearch(node, &words)) {
      const TConditionPlan plan{&node, kTextIndex, kTextKeyLength, false, false};
      for (const TWordRange& word : words) {
        TScratchBitmap hits(b.Size());
        CollectRange(plan, word.Low.data(), word.High.data(), *hits);
        b.And(*hits);
      }
      return;
    }
    TConditionPlan plan;
    if (PlanCondition(node, &plan)) {
      plan.Complement = filter.settings_.ComplementRule;
      NarrowByCondition(plan, b);
      return;
    }
  }
  NarrowRecordByRecord(&node, nullptr, b);
}

// ----- Record by record -----

TEvaluationContext TDataCursor::EvaluationContext() {
  TEvaluationContext context;
  context.Fields = &Fields();
  context.LanguageId = table_->DataFile().LanguageId();
  context.SortId = table_->DataFile().SortId();
  context.TextRules = text_rules_.get();
  context.ErrorCode = VEVURA_INVALIDFILTER;
  context.TableName = target_.TableName;
  context.ReadBlob = [this](std::span<const uint8_t> record, const TFieldDescriptor& field) {
    return LoadStoredBlob(GetBlobField(record, field));
  };
  return context;
}

void TDataCursor::NarrowRecordByRecord(const TExpToken* node, const TFilterCallback* callback,
                                       TRecordsBitmap& b) {
  const TEvaluationContext context = EvaluationContext();
  // The records go by in batches of kReadAheadBytes, read in runs without
  // passing through the record cache (which keeps what the cursors use).
  const size_t batch = std::max<size_t>(kReadAheadBytes / std::max<size_t>(record_size_, 1), 1);
  std::vector<int32_t> numbers;
  numbers.reserve(batch);
  auto decide = [&](int32_t n, std::span<const uint8_t> record) {
    const bool passes =
        node != nullptr ? RecordPasses(*node, record, context) : (*callback)(*this, record, n);
    if (!passes) b.Clear(n);
  };
  int32_t position = 0;
  int32_t passed = 0;
  for (;;) {
    numbers.clear();
    while (numbers.size() < batch && b.FindNext(position, 1, passed)) numbers.push_back(position);
    if (numbers.empty()) return;
    // Reading never appends: a number beyond the slots is damage.
    if (numbers.back() >= table_->DataFile().Header().NextRecordNumber) Raise(VEVURA_FILECORRUPT);
    if (!Records().VisitRecords(this, numbers, decide)) {
      restart_pending_ = true;
      throw TRestart{};
    }
  }
}

// ----- The visible records -----

void TDataCursor::ComputeVisible() {
  if (computing_filters_) return;
  computing_filters_ = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } done{computing_filters_};
  if (!filtering_) {
    if (record_number_order_) {
      BuildActiveRecords();
    } else {
      active_.reset();
    }
    if (visible_ != nullptr) ReturnRecordsBitmap(std::move(visible_));
    visible_count_ = 0;
    span_.reset();
    return;
  }
  BuildActiveRecords();
  const int32_t slots = active_->Size();
  if (visible_ == nullptr) visible_ = RecordsBitmapStack().Take();
  visible_->SetSize(slots);
  visible_->Assign(*active_);
  if (range_active_ && !record_number_order_) {
    TScratchBitmap range(slots);
    TBTree tree = EditTree(active_index_);
    tree.CollectReferences(range_low_.data(), range_high_.data(), KeyLength(),
                           [&](uint32_t n) { range->Set(static_cast<int32_t>(n)); });
    CheckRestart();
    visible_->And(*range);
  }
  // visible_ holds the range AND the active records: each filter starts from it.
  TScratchBitmap base(slots);
  base->Assign(*visible_);
  for (auto& filter : filters_) {
    if (!filter->active_) continue;
    TRecordsBitmap& bits = *filter->bitmap_;
    bits.SetSize(slots);
    if (filter->IsCallback()) {
      // What the filters before it let through.
      bits.Assign(*visible_);
      NarrowRecordByRecord(nullptr, &filter->callback_, bits);
    } else {
      bits.Assign(*base);
      NarrowByNode(*filter, *filter->expression_, bits);
    }
    visible_->And(bits);
  }
  visible_count_ = visible_->Count();
  ComputeSpan();
}

void TDataCursor::RecordStored(int32_t n, std::span<const uint8_t> record) {
  if (active_ != nullptr) {
    if (n > active_->Size()) active_->SetSize(n);
    active_->Set(n);
  }
  if (!filtering_ || visible_ == nullptr) return;
  if (n > visible_->Size()) visible_->SetSize(n);
  const bool was_visible = visible_->Test(n);
  bool visible = true;
  if (range_active_ && !record_number_order_) {
    std::vector<uint8_t> key(KeyLength());
    BuildKey(Keys(active_index_).Context, record.first(record_size_), key.data());
    visible = CompareActive(key.data(), range_low_.data()) >= 0 &&
              CompareActive(key.data(), range_high_.data()) <= 0;
  }
  const TEvaluationContext context = EvaluationContext();
  for (auto& filter : filters_) {
    if (!filter->active_) continue;
    TRecordsBitmap& bits = *filter->bitmap_;
    if (n > bits.Size()) bits.SetSize(n);
    bool passes = visible;
    if (passes) {
      passes = filter->IsCallback() ? filter->callback_(*this, record.first(record_size_), n)
                                    : RecordPasses(*filter->expression_, record, context);
    }
    if (passes) {
      bits.Set(n);
    } else {
      bits.Clear(n);
    }
    visible = visible && passes;
  }
  if (visible) {
    visible_->Set(n);
  } else {
    visible_->Clear(n);
  }
  visible_count_ += static_cast<int64_t>(visible) - static_cast<int64_t>(was_visible);
}

void TDataCursor::RecordRemoved(int32_t n) {
  if (active_ != nullptr) active_->Clear(n);
  if (!filtering_ || visible_ == nullptr) return;
  for (auto& filter : filters_) filter->bitmap_->Clear(n);
  if (visible_->Test(n)) --visible_count_;
  visible_->Clear(n);
}

// ----- Moving through visible records in index order -----

bool TDataCursor::SkipHidden(bool forward, TIndexPosition* pos) {
  if (Visible(static_cast<int32_t>(pos->Reference))) return true;
  // Past the hidden entries of the range in one walk of the leaves.
  TBTree tree = Tree(active_index_);
  const bool found = tree.Skip(forward, pos, [&](const uint8_t* key, uint32_t reference) {
    return !Visible(static_cast<int32_t>(reference)) && KeyInRange(key);
  });
  CheckRestart();
  return found && InRange(*pos) && Visible(static_cast<int32_t>(pos->Reference));
}

int64_t TDataCursor::VisiblePlace() {
  if (!pos_.OnEntry() || !Visible(record_number_)) return 0;
  TIndexPosition pos;
  if (!EdgeEntry(false, &pos)) return 0;
  TBTree tree = Tree(active_index_);
  int64_t place = 1;
  while (pos.Key != pos_.Key) {
    if (!tree.Next(&pos)) return 0;
    CheckRestart();
    if (!InRange(pos)) return 0;
    if (Visible(static_cast<int32_t>(pos.Reference))) ++place;
  }
  return place;
}

bool TDataCursor::StandOnVisible(int64_t n) {
  TIndexPosition pos;
  if (!EdgeEntry(false, &pos)) return false;
  TBTree tree = Tree(active_index_);
  for (int64_t place = 1; place < n; ++place) {
    TIndexPosition next = pos;
    bool found = tree.Next(&next);
    CheckRestart();
    if (!found || !InRange(next) || !SkipHidden(true, &next)) break;
    pos = next;
  }
  StandOn(pos);
  return true;
}

}  // namespace vevura
