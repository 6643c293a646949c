#include "engine/storage/language/collation.h"

#include "platform/locale.h"

namespace vevura {

int CompareText(uint16_t language_id, uint16_t sort_id, const char* a, const char* b, bool caseless,
                size_t m) {
  // The platform compares language id 0 byte by byte (upper-cased copies when
  // case is ignored); comparing to the terminating zero of a gives the order
  // of comparing its length plus the zero.
  const int length = m == 0 ? -1 : static_cast<int>(m);
  return platform::CompareLocaleText(platform::MakeLcid(language_id, sort_id), a, length, b, length,
                                     caseless);
}

int CompareText(uint16_t language_id, uint16_t sort_id, const std::string& a, const std::string& b,
                bool caseless) {
  return platform::CompareLocaleText(platform::MakeLcid(language_id, sort_id), a.data(),
                                     static_cast<int>(a.size()), b.data(),
                                     static_cast<int>(b.size()), caseless);
}

void UpperText(uint16_t language_id, uint16_t sort_id, char* text, size_t length) {
  platform::UpperCaseBytes(platform::MakeLcid(language_id, sort_id), text, length);
}

void LowerText(uint16_t language_id, uint16_t sort_id, char* text, size_t length) {
  platform::LowerCaseBytes(platform::MakeLcid(language_id, sort_id), text, length);
}

void UpperText(uint16_t language_id, uint16_t sort_id, std::string& text) {
  UpperText(language_id, sort_id, text.data(), text.size());
}

void LowerText(uint16_t language_id, uint16_t sort_id, std::string& text) {
  LowerText(language_id, sort_id, text.data(), text.size());
}

}  // namespace vevura
