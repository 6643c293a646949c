#pragma once
// The table languages the engine knows: their names, their language ids and
// the sort orders each offers.
//
// A table's language is a pair of 16-bit numbers kept in its data header, the
// language id and the sort id. Language id 0, "ANSI Standard", means no
// language: keys and text compare in byte order. Every other language id is
// a platform language identifier (primary language in the low 10 bits, the
// sub-language above) and, with its sort id, names the locale
// language id + sort id * 65536.
//
// Every language offers "Default Order" (sort id 0); the five German
// languages also offer "German Phone Book Order" (sort id 1). Names are
// looked up without regard to case under the user's locale.
//
// Thread-safety: the table is constant; every function may be called from
// any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vevura {

//! One language of the engine's list.
struct TLanguageInfo {
  const char* Name;     //!< as shown and as named in table definitions
  uint16_t LanguageId;  //!< platform language identifier; 0 for no language
};

inline constexpr int kLanguageCount = 99;
//! The language id that means byte order everywhere.
inline constexpr uint16_t kNoLanguage = 0;
//! Sort id of "Default Order".
inline constexpr uint16_t kSortDefault = 0;
//! Sort id of "German Phone Book Order".
inline constexpr uint16_t kSortGermanPhoneBook = 1;

inline constexpr const char* kDefaultOrderName = "Default Order";
inline constexpr const char* kGermanPhoneBookOrderName = "German Phone Book Order";

//! The 99 languages in the engine's order, "ANSI Standard" first.
const std::array<TLanguageInfo, kLanguageCount>& Languages();
//! The names of the languages, in the engine's order.
std::vector<std::string> LanguageNames();
//! The language id of a name (case ignored), or nothing when it is not listed.
std::optional<uint16_t> FindLanguageId(std::string_view name);
//! The name of a listed language id, or "" when it is not listed.
std::string LanguageName(uint16_t language_id);

//! True for the five German languages, which offer the phone-book order.
bool IsGermanLanguage(uint16_t language_id);
//! The sort order names a language offers, "Default Order" first.
std::vector<std::string> SortOrderNames(uint16_t language_id);
//! The sort id of a sort order name (case ignored) that the language offers,
//! or nothing.
std::optional<uint16_t> FindSortId(uint16_t language_id, std::string_view name);

//! The language id named after LANGUAGE in a table definition; a name not in
//! the list raises VEVURA_SQLPARSE with the detail "Invalid language constant
//! '<name>' specified after LANGUAGE keyword".
uint16_t LanguageIdFromClause(std::string_view name);
//! The sort id named after SORT for the language; a name the language does
//! not offer raises VEVURA_SQLPARSE with the detail "Invalid sort constant
//! '<name>' specified after SORT keyword".
uint16_t SortIdFromClause(uint16_t language_id, std::string_view name);

//! Whether the platform has the locale of the pair. Always true for
//! language id 0, which needs no locale.
bool LanguageInstalled(uint16_t language_id, uint16_t sort_id);
//! Raises VEVURA_CANNOTLOADLDDRV naming the table unless the pair's locale
//! is installed; creating or opening a table with a language checks this.
void RequireLanguageInstalled(uint16_t language_id, uint16_t sort_id, const std::string& table);

}  // namespace vevura
