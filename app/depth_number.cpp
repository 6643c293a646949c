#include "app/depth_number.h"

#include <charconv>
#include <clocale>
#include <system_error>

namespace vevura::app {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

//! Cursor over the text being parsed.
struct Scanner {
  std::string_view text;
  size_t pos = 0;

  bool AtEnd() const { return pos == text.size(); }
  bool Take(char c) {
    if (AtEnd() || text[pos] != c) return false;
    ++pos;
    return true;
  }
  bool Take(std::string_view s) {
    if (s.empty() || text.substr(pos, s.size()) != s) return false;
    pos += s.size();
    return true;
  }
  //! Appends the digits at the cursor to out; their count.
  size_t TakeDigits(std::string* out) {
    size_t start = pos;
    while (!AtEnd() && IsDigit(text[pos])) out->push_back(text[pos++]);
    return pos - start;
  }
};

//! Rewrites text into the locale-free form that std::from_chars reads ("-12.5e3");
//! false when text is not a number.
bool Normalize(std::string_view text, std::string_view separator, std::string* out) {
  Scanner s{text};
  if (s.Take('-')) {
    out->push_back('-');
  } else {
    s.Take('+');
  }
  size_t digits = s.TakeDigits(out);
  if (s.Take(separator)) {
    out->push_back('.');
    digits += s.TakeDigits(out);
  }
  if (digits == 0) return false;
  if (s.Take('e') || s.Take('E')) {
    out->push_back('e');
    if (s.Take('-')) {
      out->push_back('-');
    } else {
      s.Take('+');
    }
    if (s.TakeDigits(out) == 0) return false;
  }
  return s.AtEnd();
}

}  // namespace

std::string LocaleDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0') {
    return ".";
  }
  return conv->decimal_point;
}

bool ParseDecimalNumber(std::string_view text, std::string_view decimal_separator, double* value) {
  std::string normal;
  normal.reserve(text.size());
  if (!Normalize(text, decimal_separator, &normal)) return false;
  double result = 0;
  auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), result,
                                      std::chars_format::general);
  if (error != std::errc() || end != normal.data() + normal.size()) return false;
  *value = result;
  return true;
}

double DepthValue(std::string_view text, std::string_view decimal_separator) {
  double value = 0;
  return ParseDecimalNumber(text, decimal_separator, &value) ? value : 0;
}

}  // namespace vevura::app
