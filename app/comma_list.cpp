#include "app/comma_list.h"

#include <cstddef>

namespace vevura::app {

namespace {

bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

size_t SkipBlanks(std::string_view line, size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

//! Reads the quoted item starting at line[pos] (the opening quote) into item;
//! returns the position after its closing quote, or the line's end.
size_t ReadQuotedItem(std::string_view line, size_t pos, std::string* item) {
  ++pos;
  while (pos < line.size()) {
    char c = line[pos++];
    if (c != '"') {
      item->push_back(c);
    } else if (pos < line.size() && line[pos] == '"') {
      item->push_back('"');
      ++pos;
    } else {
      return pos;
    }
  }
  // No closing quote: the item ran to the end of the line and loses its last
  // character.
  if (!item->empty()) item->pop_back();
  return pos;
}

//! Reads the plain item starting at line[pos]; returns the position of the
//! blank or comma that ends it, or the line's end.
size_t ReadPlainItem(std::string_view line, size_t pos, std::string* item) {
  size_t end = pos;
  while (end < line.size() && line[end] != ',' && !IsBlank(line[end])) ++end;
  item->assign(line.substr(pos, end - pos));
  return end;
}

}  // namespace

void SplitCommaList(std::string_view line, std::vector<std::string>* items, size_t max_items) {
  items->clear();
  size_t pos = SkipBlanks(line, 0);
  while (pos < line.size() && items->size() < max_items) {
    std::string& item = items->emplace_back();
    pos = line[pos] == '"' ? ReadQuotedItem(line, pos, &item) : ReadPlainItem(line, pos, &item);
    pos = SkipBlanks(line, pos);
    if (pos < line.size() && line[pos] == ',') {
      if (pos + 1 == line.size() && items->size() < max_items) items->emplace_back();
      pos = SkipBlanks(line, pos + 1);
    }
  }
}

std::vector<std::string> SplitCommaList(std::string_view line) {
  std::vector<std::string> items;
  SplitCommaList(line, &items);
  return items;
}

}  // namespace vevura::app
