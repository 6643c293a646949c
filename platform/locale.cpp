#include "platform/locale.h"

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vevura::platform {

namespace {

// A language id is a primary language (low 10 bits) and a sub-language.
constexpr uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr int kSubLanguageShift = 10;
constexpr uint16_t kPrimaryGerman = 0x07;
constexpr uint16_t kPrimaryCroatianSerbian = 0x1A;
constexpr uint16_t kSortGermanPhoneBook = 1;
// Bytes that a code page leaves undefined decode to private-use characters,
// so that they stay distinct from each other and from every letter.
constexpr char16_t kUndefinedByteBase = 0xF700;
const char* const kEnglishUsaIcuName = "en_US";

uint16_t LanguageOf(uint32_t lcid) {
  return static_cast<uint16_t>(lcid & 0xFFFF);
}
uint16_t SortOf(uint32_t lcid) {
  return static_cast<uint16_t>(lcid >> 16);
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

// ---------------------------------------------------------------------------
// Locale names

//! ICU's name for the LCID, accepted only when it maps back to the same LCID:
//! for an id it does not know, ICU answers with the bare language instead.
std::string IcuNameThatMapsBack(uint32_t lcid) {
  char name[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0) return "";
  if (uloc_getLCID(name) != lcid) return "";
  return std::string(name, static_cast<size_t>(length));
}

//! The German languages' sort id 1 is the phone-book collation of the
//! language's own locale ("de_CH@collation=phonebook").
std::string GermanPhoneBookName(uint16_t language_id) {
  std::string base = IcuNameThatMapsBack(language_id);
  if (base.empty()) return "";
  char name[ULOC_FULLNAME_CAPACITY];
  std::memcpy(name, base.c_str(), base.size() + 1);
  UErrorCode status = U_ZERO_ERROR;
  uloc_setKeywordValue("collation", "phonebook", name, sizeof name, &status);
  if (U_FAILURE(status)) return "";
  return name;
}

//! Locale for case mapping: the LCID's own, or English (USA) when it has none.
std::string CaseMappingLocale(uint32_t lcid) {
  std::string name = IcuLocaleForLcid(lcid);
  return name.empty() ? kEnglishUsaIcuName : name;
}

// ---------------------------------------------------------------------------
// Code pages

//! A single-byte code page as a table in both directions.
class CodePageTable {
 public:
  explicit CodePageTable(const char* converter_name);

  char16_t Decode(unsigned char byte) const { return to_unicode_[byte]; }
  //! The byte of a character, or -1 when the code page has none for it.
  int Encode(char16_t character) const;
  void DecodeInto(const char* bytes, size_t length, std::u16string& out) const;

 private:
  void FillFromConverter(UConverter* converter);

  //! Unicode character of every byte.
  std::array<char16_t, 256> to_unicode_{};
  //! (character, byte) pairs sorted by character, for encoding.
  std::vector<std::pair<char16_t, unsigned char>> from_unicode_;
};

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

CodePageTable::CodePageTable(const char* converter_name) {
  for (int byte = 0; byte < 256; ++byte) to_unicode_[byte] = static_cast<char16_t>(byte);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(converter_name, &status));
  if (U_SUCCESS(status) && converter) FillFromConverter(converter.get());
  from_unicode_.reserve(256);
  for (int byte = 0; byte < 256; ++byte) {
    from_unicode_.emplace_back(to_unicode_[byte], static_cast<unsigned char>(byte));
  }
  std::stable_sort(from_unicode_.begin(), from_unicode_.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
}

void CodePageTable::FillFromConverter(UConverter* converter) {
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  for (int byte = 0; byte < 256; ++byte) {
    const char source = static_cast<char>(byte);
    char16_t target[4];
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter);
    int32_t length = ucnv_toUChars(converter, target, 4, &source, 1, &status);
    bool single = U_SUCCESS(status) && length == 1;
    to_unicode_[byte] = single ? target[0] : static_cast<char16_t>(kUndefinedByteBase + byte);
  }
}

int CodePageTable::Encode(char16_t character) const {
  auto found = std::lower_bound(from_unicode_.begin(), from_unicode_.end(), character,
                                [](const auto& entry, char16_t c) { return entry.first < c; });
  if (found == from_unicode_.end() || found->first != character) return -1;
  return found->second;
}

void CodePageTable::DecodeInto(const char* bytes, size_t length, std::u16string& out) const {
  out.resize(length);
  for (size_t i = 0; i < length; ++i) out[i] = Decode(static_cast<unsigned char>(bytes[i]));
}

// ---------------------------------------------------------------------------
// Collators

//! How strictly a collator tells strings apart.
enum class CollationMode {
  kMarksAndCaseIgnored,  //!< primary strength
  kMarksIgnored,         //!< primary strength with the case level
  kCaseIgnored,          //!< secondary strength: marks count
  kExact,                //!< tertiary strength
};

struct CollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

//! Opens the collator of the LCID (the root collation when ICU does not know
//! the LCID) in the given mode and in string-sort mode; nullptr on failure.
CollatorPtr OpenCollator(uint32_t lcid, CollationMode mode) {
  std::string name = IcuLocaleForLcid(lcid);
  UErrorCode status = U_ZERO_ERROR;
  CollatorPtr collator(ucol_open(name.c_str(), &status));
  if (U_FAILURE(status)) return nullptr;
  bool case_level = mode == CollationMode::kMarksIgnored;
  UColAttributeValue strength = UCOL_PRIMARY;
  if (mode == CollationMode::kCaseIgnored) strength = UCOL_SECONDARY;
  if (mode == CollationMode::kExact) strength = UCOL_TERTIARY;
  ucol_setAttribute(collator.get(), UCOL_STRENGTH, strength, &status);
  ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, case_level ? UCOL_ON : UCOL_OFF, &status);
  ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

// ---------------------------------------------------------------------------
// Case tables

//! Upper- and lower-case image of every byte under one locale.
struct CaseTables {
  std::array<unsigned char, 256> upper;
  std::array<unsigned char, 256> lower;
};

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

//! The byte's case image when it is exactly one character of the code page;
//! otherwise the byte itself.
unsigned char MapByte(const CodePageTable& code_page, CaseMapping mapping, const char* locale,
                      unsigned char byte) {
  const char16_t source = code_page.Decode(byte);
  char16_t target[4];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = mapping(target, 4, &source, 1, locale, &status);
  if (U_FAILURE(status) || length != 1) return byte;
  int encoded = code_page.Encode(target[0]);
  return encoded < 0 ? byte : static_cast<unsigned char>(encoded);
}

CaseTables BuildCaseTables(const CodePageTable& code_page, const std::string& locale) {
  CaseTables tables;
  for (int byte = 0; byte < 256; ++byte) {
    auto b = static_cast<unsigned char>(byte);
    tables.upper[byte] = MapByte(code_page, u_strToUpper, locale.c_str(), b);
    tables.lower[byte] = MapByte(code_page, u_strToLower, locale.c_str(), b);
  }
  return tables;
}

// ---------------------------------------------------------------------------
// Per-thread cache

//! Code page tables, collators and case tables of one thread, built on first
//! use and freed when the thread ends.
class ThreadLocaleCache {
 public:
  const CodePageTable& CodePageOf(uint32_t lcid);
  //! nullptr when ICU cannot open a collator at all.
  UCollator* CollatorOf(uint32_t lcid, CollationMode mode);
  const CaseTables& CasesOf(uint32_t lcid);

  //! Scratch buffers for the Unicode form of the two compared strings.
  std::u16string left;
  std::u16string right;

 private:
  std::unordered_map<std::string, std::unique_ptr<CodePageTable>> code_pages_;
  std::unordered_map<uint64_t, CollatorPtr> collators_;
  std::unordered_map<uint32_t, std::unique_ptr<CaseTables>> cases_;
};

const CodePageTable& ThreadLocaleCache::CodePageOf(uint32_t lcid) {
  const char* name = CodePageOfLanguage(LanguageOf(lcid));
  auto& slot = code_pages_[name];
  if (!slot) slot = std::make_unique<CodePageTable>(name);
  return *slot;
}

UCollator* ThreadLocaleCache::CollatorOf(uint32_t lcid, CollationMode mode) {
  uint64_t key = (uint64_t{lcid} << 2) | static_cast<uint64_t>(mode);
  auto found = collators_.find(key);
  if (found != collators_.end()) return found->second.get();
  CollatorPtr collator = OpenCollator(lcid, mode);
  UCollator* result = collator.get();
  if (result != nullptr) collators_.emplace(key, std::move(collator));
  return result;
}

const CaseTables& ThreadLocaleCache::CasesOf(uint32_t lcid) {
  auto& slot = cases_[lcid];
  if (!slot)
    slot = std::make_unique<CaseTables>(BuildCaseTables(CodePageOf(lcid), CaseMappingLocale(lcid)));
  return *slot;
}

thread_local bool thread_cache_destroyed = false;

struct ThreadCacheHolder {
  ThreadLocaleCache cache;
  ~ThreadCacheHolder() { thread_cache_destroyed = true; }
};

//! This thread's cache, or nullptr once it is gone (a call from a destructor
//! at thread or process exit).
ThreadLocaleCache* ThisThreadCache() {
  if (thread_cache_destroyed) return nullptr;
  thread_local ThreadCacheHolder holder;
  return &holder.cache;
}

//! Runs operation with this thread's cache, or with a transient one when the
//! thread's cache is gone.
template <typename Operation>
auto WithThreadCache(Operation operation) {
  if (ThreadLocaleCache* cache = ThisThreadCache()) return operation(*cache);
  ThreadLocaleCache transient;
  return operation(transient);
}

// ---------------------------------------------------------------------------
// Comparison

size_t TextLength(const char* text, int length) {
  if (text == nullptr) return 0;
  return length < 0 ? std::strlen(text) : static_cast<size_t>(length);
}

//! Unsigned byte order, each byte first passed through fold when given; a
//! string that is a prefix of the other comes first.
int CompareBytes(const char* a, size_t a_length, const char* b, size_t b_length,
                 const unsigned char* fold) {
  size_t common = std::min(a_length, b_length);
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (fold != nullptr) x = fold[x], y = fold[y];
    if (x != y) return x < y ? -1 : 1;
  }
  return Sign(static_cast<int>(a_length > b_length) - static_cast<int>(a_length < b_length));
}

int CompareWithCollator(uint32_t lcid, CollationMode mode, const char* a, size_t a_length,
                        const char* b, size_t b_length) {
  return WithThreadCache([&](ThreadLocaleCache& cache) {
    UCollator* collator = cache.CollatorOf(lcid, mode);
    if (collator == nullptr) return CompareBytes(a, a_length, b, b_length, nullptr);
    const CodePageTable& code_page = cache.CodePageOf(lcid);
    code_page.DecodeInto(a, a_length, cache.left);
    code_page.DecodeInto(b, b_length, cache.right);
    return Sign(ucol_strcoll(collator, cache.left.data(), static_cast<int32_t>(a_length),
                             cache.right.data(), static_cast<int32_t>(b_length)));
  });
}

void MapCase(uint32_t lcid, char* text, size_t length, bool upper) {
  if (text == nullptr || length == 0) return;
  if (LanguageOf(lcid) == 0) lcid = kLcidEnglishUsa;
  WithThreadCache([&](ThreadLocaleCache& cache) {
    const CaseTables& tables = cache.CasesOf(lcid);
    const auto& map = upper ? tables.upper : tables.lower;
    for (size_t i = 0; i < length; ++i) {
      text[i] = static_cast<char>(map[static_cast<unsigned char>(text[i])]);
    }
    return 0;
  });
}

// ---------------------------------------------------------------------------
// The user's locale

//! The POSIX locale that governs collation: LC_ALL, LC_COLLATE, then LANG.
std::string UserLocaleSetting() {
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

//! "sr_RS.UTF-8@latin" becomes "sr_Latn_RS": the code set goes, and a
//! script modifier becomes the script.
std::string IcuNameOfPosixLocale(std::string name) {
  std::string modifier;
  if (size_t at = name.find('@'); at != std::string::npos) {
    modifier = name.substr(at + 1);
    name.resize(at);
  }
  if (size_t dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  const char* script = modifier == "latin" ? "Latn" : modifier == "cyrillic" ? "Cyrl" : nullptr;
  if (script != nullptr) {
    size_t underscore = name.find('_');
    std::string tail = underscore == std::string::npos ? "" : name.substr(underscore);
    name = name.substr(0, underscore) + "_" + script + tail;
  }
  return name;
}

}  // namespace

std::string IcuLocaleForLcid(uint32_t lcid) {
  uint16_t language_id = LanguageOf(lcid);
  if (language_id == 0) return "";
  bool german = (language_id & kPrimaryLanguageMask) == kPrimaryGerman;
  if (german && SortOf(lcid) == kSortGermanPhoneBook) return GermanPhoneBookName(language_id);
  return IcuNameThatMapsBack(lcid);
}

bool LocaleInstalled(uint32_t lcid) {
  if (IcuLocaleForLcid(lcid).empty()) return false;
  return WithThreadCache([&](ThreadLocaleCache& cache) {
    return cache.CollatorOf(lcid, CollationMode::kMarksIgnored) != nullptr;
  });
}

const char* CodePageOfLanguage(uint16_t language_id) {
  const int sub_language = language_id >> kSubLanguageShift;
  switch (language_id & kPrimaryLanguageMask) {
    case 0x05:  // Czech
    case 0x0E:  // Hungarian
    case 0x15:  // Polish
    case 0x18:  // Romanian
    case 0x1B:  // Slovak
    case 0x1C:  // Albanian
    case 0x24:  // Slovenian
      return "windows-1250";
    case kPrimaryCroatianSerbian: {
      // Croatian and the Latin forms of Serbian and Bosnian share the primary
      // language with the Cyrillic forms, which the sub-language tells apart.
      constexpr int kCyrillic[] = {3, 7, 8, 10, 12, 25, 27};
      bool cyrillic = std::find(std::begin(kCyrillic), std::end(kCyrillic), sub_language) !=
                      std::end(kCyrillic);
      return cyrillic ? "windows-1251" : "windows-1250";
    }
    case 0x02:  // Bulgarian
    case 0x19:  // Russian
    case 0x22:  // Ukrainian
    case 0x23:  // Belarusian
      return "windows-1251";
    case 0x08:  // Greek
      return "windows-1253";
    case 0x1F:  // Turkish
      return "windows-1254";
    case 0x0D:  // Hebrew
      return "windows-1255";
    case 0x01:  // Arabic
    case 0x29:  // Farsi
      return "windows-1256";
    case 0x25:  // Estonian
    case 0x26:  // Latvian
    case 0x27:  // Lithuanian
      return "windows-1257";
    case 0x1E:  // Thai
      return "windows-874";
    case 0x2A:  // Vietnamese
      return "windows-1258";
    default:
      return "windows-1252";
  }
}

namespace {

//! Appends the UTF-8 form of a character of the Basic Multilingual Plane.
void AppendUtf8(char16_t character, std::string& out) {
  const auto c = static_cast<uint32_t>(character);
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

//! The code point of the UTF-8 sequence at text[*i], moving *i past it; -1
//! for a sequence that is not valid UTF-8 (overlong forms and surrogates
//! included).
int32_t NextCodePoint(std::string_view text, size_t* i) {
  const auto lead = static_cast<unsigned char>(text[(*i)++]);
  if (lead < 0x80) return lead;
  int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (more < 0 || lead > 0xF4) return -1;
  int32_t c = lead & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    if (*i >= text.size()) return -1;
    const auto next = static_cast<unsigned char>(text[(*i)++]);
    if ((next & 0xC0) != 0x80) return -1;
    c = c << 6 | (next & 0x3F);
  }
  constexpr int32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
  return c;
}

}  // namespace

std::string CodePageToUtf8(uint16_t language_id, std::string_view text) {
  return WithThreadCache([&](ThreadLocaleCache& cache) {
    const CodePageTable& code_page = cache.CodePageOf(language_id);
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char byte : text) AppendUtf8(code_page.Decode(static_cast<unsigned char>(byte)), out);
    return out;
  });
}

bool Utf8ToCodePage(uint16_t language_id, std::string_view utf8, std::string* text) {
  return WithThreadCache([&](ThreadLocaleCache& cache) {
    const CodePageTable& code_page = cache.CodePageOf(language_id);
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
      const int32_t c = NextCodePoint(utf8, &i);
      const int byte = c < 0 || c > 0xFFFF ? -1 : code_page.Encode(static_cast<char16_t>(c));
      if (byte < 0) return false;
      out += static_cast<char>(byte);
    }
    *text = std::move(out);
    return true;
  });
}

// Language id 0 is byte order (upper-cased copies under English (USA) when
// case is ignored); callers normally handle it before calling.
int CompareLocaleText(uint32_t lcid, const char* a, int a_length, const char* b, int b_length,
                      bool ignore_case) {
  size_t a_size = TextLength(a, a_length);
  size_t b_size = TextLength(b, b_length);
  if (LanguageOf(lcid) == 0) {
    if (!ignore_case) return CompareBytes(a, a_size, b, b_size, nullptr);
    return WithThreadCache([&](ThreadLocaleCache& cache) {
      return CompareBytes(a, a_size, b, b_size, cache.CasesOf(kLcidEnglishUsa).upper.data());
    });
  }
  CollationMode mode =
      ignore_case ? CollationMode::kMarksAndCaseIgnored : CollationMode::kMarksIgnored;
  return CompareWithCollator(lcid, mode, a, a_size, b, b_size);
}

int CompareLocaleChar(uint32_t lcid, unsigned char a, unsigned char b) {
  const char x = static_cast<char>(a);
  const char y = static_cast<char>(b);
  return CompareLocaleText(lcid, &x, 1, &y, 1, false);
}

void UpperCaseBytes(uint32_t lcid, char* text, size_t length) {
  MapCase(lcid, text, length, true);
}

void LowerCaseBytes(uint32_t lcid, char* text, size_t length) {
  MapCase(lcid, text, length, false);
}

std::string UpperCase(uint32_t lcid, std::string text) {
  UpperCaseBytes(lcid, text.data(), text.size());
  return text;
}

std::string LowerCase(uint32_t lcid, std::string text) {
  LowerCaseBytes(lcid, text.data(), text.size());
  return text;
}

uint32_t SystemLcid() {
  std::string name = IcuNameOfPosixLocale(UserLocaleSetting());
  if (name.empty()) return kLcidEnglishUsa;
  uint32_t lcid = uloc_getLCID(name.c_str());
  if (lcid == 0 || !LocaleInstalled(lcid)) return kLcidEnglishUsa;
  return lcid;
}

// Names differ by their accents as well as by their letters: only case can be
// ignored, so that two names of distinct files never compare equal. The
// user's locale is read once per process.
int CompareTextSystem(const std::string& a, const std::string& b, bool ignore_case) {
  static const uint32_t lcid = SystemLcid();
  CollationMode mode = ignore_case ? CollationMode::kCaseIgnored : CollationMode::kExact;
  return CompareWithCollator(lcid, mode, a.data(), a.size(), b.data(), b.size());
}

bool SameTextSystem(const std::string& a, const std::string& b) {
  return CompareTextSystem(a, b, true) == 0;
}

}  // namespace vevura::platform
