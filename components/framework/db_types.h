#pragma once
// The vocabulary of the dataset framework: field types, dataset states,
// index, locate and filter options, the results of reading a record, and
// TValue, the value a field gives and takes without knowing its type.
//
// Dates and times are TDateTime values: days since 1899-12-30 with the time
// of day as the fraction (platform/date_time.h).

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

namespace vevura {

enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
};

//! The name of a field type ("String", "Integer", ...), for messages.
const char* FieldTypeName(TFieldType type);
//! True for the types kept as BLOBs (read and written through streams).
bool IsBlobType(TFieldType type);

enum TFieldKind : uint8_t {
  fkData,          //!< a column of the dataset's records
  fkCalculated,    //!< computed by OnCalcFields, kept in the record buffer
  fkInternalCalc,  //!< computed, kept like data by the dataset
};

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
};

//! A small set of enumerators of E (values below 32).
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) bits_ |= Bit(m);
  }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr TSet& Include(E m) {
    bits_ |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ &= ~Bit(m);
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<uint32_t>(m); }
  uint32_t bits_ = 0;
};

enum TIndexOption : uint8_t {
  ixPrimary,
  ixUnique,
  ixDescending,
  ixCaseInsensitive,
  ixExpression,
  ixNonMaintained,
};
using TIndexOptions = TSet<TIndexOption>;

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;

//! What the dataset asks of a record read.
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
//! What a record read found.
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
//! Where a record buffer stands.
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

//! What a failed edit, post or delete should do next (the error events).
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

//! Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;
using TBytes = std::vector<uint8_t>;
using TBookmark = std::vector<uint8_t>;

//! A field's value of any type; std::monostate is null. Dates and times
//! travel as TDateTime (double), decimals as double, BLOBs as bytes or text.
using TValue = std::variant<std::monostate, bool, int64_t, double, std::string, TBytes>;

inline bool IsNull(const TValue& value) {
  return std::holds_alternative<std::monostate>(value);
}
//! The value's text: "" for null, "True"/"False", numbers in their shortest
//! exact form, bytes as they are.
std::string ValueText(const TValue& value);

}  // namespace vevura
