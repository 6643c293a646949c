#pragma once
// Text comparison and case mapping in a table's language.
//
// With a language, text is compared by the platform's locale collation for
// the locale language id + sort id * 65536, ignoring non-spacing marks and in
// string-sort mode (hyphens and apostrophes compare as symbols); without one
// (language id 0) it is compared byte by byte, after upper-casing under
// English (USA) rules when case is ignored. Case mapping keeps the text's
// length: a character whose other case does not fit the code page stays.
//
// Thread-safety: every function may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vevura {

//! -1, 0 or 1 as a sorts before, equals or sorts after b. With m = 0 both
//! strings run to their terminating zero; otherwise exactly m bytes of each
//! take part, zeros included.
int CompareText(uint16_t language_id, uint16_t sort_id, const char* a, const char* b, bool caseless,
                size_t m);
//! The same for two whole strings.
int CompareText(uint16_t language_id, uint16_t sort_id, const std::string& a, const std::string& b,
                bool caseless);

//! Upper- or lower-case mapping of length bytes in place, under the pair's
//! locale (English (USA) for language id 0).
void UpperText(uint16_t language_id, uint16_t sort_id, char* text, size_t length);
void LowerText(uint16_t language_id, uint16_t sort_id, char* text, size_t length);
void UpperText(uint16_t language_id, uint16_t sort_id, std::string& text);
void LowerText(uint16_t language_id, uint16_t sort_id, std::string& text);

}  // namespace vevura
