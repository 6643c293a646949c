// RFC 4180 fields and records (csv.h).

#include "tools/vevura/csv.h"

#include <stdexcept>

namespace vevura::tool {

namespace {

//! A character that makes a field quoted.
bool NeedsQuotes(char c) {
  return c == ',' || c == '"' || c == '\r' || c == '\n';
}

}  // namespace

void AppendCsvField(std::string& line, std::string_view field) {
  bool quote = false;
  for (char c : field) quote |= NeedsQuotes(c);
  if (!quote) {
    line.append(field);
    return;
  }
  line += '"';
  for (char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

bool TCsvReader::Next(std::vector<std::string>* fields) {
  fields->clear();
  int c = in_.get();
  if (c == EOF) return false;
  record_line_ = line_;
  std::string field;
  bool quoted = false;      // inside quotes
  bool was_quoted = false;  // the field began with a quote
  for (;; c = in_.get()) {
    if (quoted) {
      if (c == EOF) {
        throw std::runtime_error("line " + std::to_string(record_line_) +
                                 ": a quoted field is not closed");
      }
      if (c == '"') {
        if (in_.peek() == '"') {
          field += '"';
          in_.get();
        } else {
          quoted = false;
        }
        continue;
      }
      if (c == '\n') ++line_;
      field += static_cast<char>(c);
      continue;
    }
    if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
      continue;
    }
    if (c == ',' || c == '\n' || c == EOF ||
        (c == '\r' && (in_.peek() == '\n' || in_.peek() == EOF))) {
      fields->push_back(std::move(field));
      field.clear();
      was_quoted = false;
      if (c == ',') continue;
      if (c == '\r') in_.get();
      if (c != EOF) ++line_;
      return true;
    }
    if (was_quoted) {
      throw std::runtime_error("line " + std::to_string(line_) +
                               ": text after the closing quote of a field");
    }
    field += static_cast<char>(c);
  }
}

}  // namespace vevura::tool
