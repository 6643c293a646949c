#pragma once
// Locale services over ICU: collation, case mapping and the installed-locale
// test, for 8-bit text in a language's ANSI code page.
//
// A locale identifier (LCID) is a language id plus a sort id times 65536.
// Text handed to these functions is 8-bit text in the code page of the
// language (windows-1252 for the Western languages and for language 0); it is
// turned into Unicode through that code page before ICU sees it.
//
// Comparisons ignore non-spacing marks (primary strength, with the case level
// on when case matters) and run in string-sort mode (hyphens and apostrophes
// compare as symbols instead of being ignored). Language id 0 never reaches
// ICU for ordering: callers use byte order for it.
//
// Thread-safety: every function may be called from any thread; collators and
// converters are cached per thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace vevura::platform {

inline constexpr uint32_t kLcidEnglishUsa = 1033;

inline constexpr uint32_t MakeLcid(uint16_t language_id, uint16_t sort_id) {
  return language_id + sort_id * 65536u;
}

//! The ICU locale name of an LCID ("de_DE", "de_DE@collation=phonebook"), or
//! "" when ICU does not know it.
std::string IcuLocaleForLcid(uint32_t lcid);
//! True when the LCID maps to an ICU locale that has a collator.
bool LocaleInstalled(uint32_t lcid);
//! ICU converter name of the language's ANSI code page ("windows-1252", ...).
const char* CodePageOfLanguage(uint16_t language_id);
//! 8-bit text in the language's code page as UTF-8. A byte the code page
//! leaves undefined becomes a private-use character (U+F700 + byte), which
//! Utf8ToCodePage turns back into the same byte.
std::string CodePageToUtf8(uint16_t language_id, std::string_view text);
//! UTF-8 text in the language's code page; false when the text is not valid
//! UTF-8 or holds a character the code page has no byte for.
bool Utf8ToCodePage(uint16_t language_id, std::string_view utf8, std::string* text);

//! Compares a and b under the locale: -1, 0 or 1. A length of -1 runs to the
//! terminating zero; otherwise exactly that many bytes take part (zeros
//! included).
int CompareLocaleText(uint32_t lcid, const char* a, int a_length, const char* b, int b_length,
                      bool ignore_case);
//! Compares two single characters under the locale, case-sensitively.
int CompareLocaleChar(uint32_t lcid, unsigned char a, unsigned char b);

//! Upper- or lower-case mapping of length bytes of text in place, under the
//! locale (English (USA) for language id 0). A character whose mapping does
//! not fit the code page, or is not one character, is left unchanged, so the
//! text keeps its length.
void UpperCaseBytes(uint32_t lcid, char* text, size_t length);
void LowerCaseBytes(uint32_t lcid, char* text, size_t length);
std::string UpperCase(uint32_t lcid, std::string text);
std::string LowerCase(uint32_t lcid, std::string text);

//! The LCID of the user's locale (LC_ALL, LC_COLLATE, then LANG); English
//! (USA) when it cannot be told.
uint32_t SystemLcid();
//! Compares names under the user's locale (read once per process): -1, 0 or
//! 1. Unlike the comparisons above, marks count, so that names that differ
//! only by an accent stay distinct; only case may be ignored.
int CompareTextSystem(const std::string& a, const std::string& b, bool ignore_case);
//! Names equal without regard to case under the user's locale.
bool SameTextSystem(const std::string& a, const std::string& b);

}  // namespace vevura::platform
