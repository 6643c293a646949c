#include "components/framework/definitions.h"

#include <algorithm>
#include <cctype>

#include "platform/locale.h"

namespace vevura {

namespace {

template <typename T>
int PlaceOf(const std::vector<std::unique_ptr<T>>& items, const T* item) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].get() == item) return static_cast<int>(i);
  }
  return -1;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() == b.size() &&
      std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
      })) {
    return true;
  }
  const auto ascii = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x80; });
  };
  return !(ascii(a) && ascii(b)) && platform::SameTextSystem(a, b);
}

std::vector<std::string> SplitFieldNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(';', start), list.size());
    std::string name = Trimmed(list.substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

// ----- TFieldDef -----

TFieldDef::TFieldDef(TFieldDefs& owner, std::string name, TFieldType type, int32_t size,
                     bool required, int32_t field_no)
    : owner_(owner),
      name_(std::move(name)),
      data_type_(type),
      size_(size),
      required_(required),
      field_no_(field_no) {}

void TFieldDef::SetName(const std::string& name) {
  name_ = name;
  Changed();
}
void TFieldDef::SetDataType(TFieldType type) {
  data_type_ = type;
  Changed();
}
void TFieldDef::SetSize(int32_t size) {
  size_ = size;
  Changed();
}
void TFieldDef::SetPrecision(int32_t precision) {
  precision_ = precision;
  Changed();
}
void TFieldDef::SetRequired(bool required) {
  required_ = required;
  Changed();
}
int TFieldDef::Index() const {
  return PlaceOf(owner_.items_, this);
}
void TFieldDef::Changed() {
  owner_.Changed();
}

// ----- TFieldDefs -----

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int32_t size, bool required) {
  const int32_t next = items_.empty() ? 1 : items_.back()->FieldNo() + 1;
  return AddNumbered(name, type, size, required, next);
}

TFieldDef& TFieldDefs::AddNumbered(const std::string& name, TFieldType type, int32_t size,
                                   bool required, int32_t field_no) {
  items_.push_back(std::make_unique<TFieldDef>(*this, name, type, size, required, field_no));
  Changed();
  return *items_.back();
}

void TFieldDefs::Clear() {
  items_.clear();
  Changed();
}

void TFieldDefs::Delete(int index) {
  items_.erase(items_.begin() + PlaceOf(items_, &(*this)[index]));
  Changed();
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : items_[i].get();
}

int TFieldDefs::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

void TFieldDefs::Update() {
  if (Updater) Updater();
}

void TFieldDefs::Assign(const TFieldDefs& other) {
  if (&other == this) return;
  items_.clear();
  for (const auto& d : other) {
    items_.push_back(std::make_unique<TFieldDef>(*this, d->Name(), d->DataType(), d->Size(),
                                                 d->Required(), d->FieldNo()));
    items_.back()->SetPrecision(d->Precision());
  }
  Changed();
}

void TFieldDefs::Changed() const {
  if (OnChange) OnChange();
}

// ----- TIndexDef -----

TIndexDef::TIndexDef(TIndexDefs& owner, std::string name, std::string fields, TIndexOptions options)
    : owner_(owner), name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

void TIndexDef::SetName(const std::string& name) {
  name_ = name;
  Changed();
}
void TIndexDef::SetFields(const std::string& fields) {
  fields_ = fields;
  Changed();
}
void TIndexDef::SetOptions(TIndexOptions options) {
  options_ = options;
  Changed();
}
int TIndexDef::Index() const {
  return PlaceOf(owner_.items_, this);
}
void TIndexDef::Changed() {
  owner_.Changed();
}

// ----- TIndexDefs -----

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(*this, name, fields, options));
  Changed();
  return *items_.back();
}

void TIndexDefs::Clear() {
  items_.clear();
  Changed();
}

void TIndexDefs::Delete(int index) {
  items_.erase(items_.begin() + PlaceOf(items_, &(*this)[index]));
  Changed();
}

void TIndexDefs::Move(int from, int to) {
  auto item = std::move(items_.at(from));
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + std::clamp(to, 0, Count()), std::move(item));
  Changed();
}

TIndexDef* TIndexDefs::Find(const std::string& name) const {
  for (const auto& d : items_) {
    if (SameName(d->Name(), name)) return d.get();
  }
  return nullptr;
}

TIndexDef* TIndexDefs::FindByFields(const std::string& fields) const {
  for (const auto& d : items_) {
    if (SameName(d->Fields(), fields)) return d.get();
  }
  return nullptr;
}

void TIndexDefs::Update() {
  if (Updater) Updater();
}

void TIndexDefs::Assign(const TIndexDefs& other) {
  if (&other == this) return;
  items_.clear();
  for (const auto& d : other) {
    items_.push_back(std::make_unique<TIndexDef>(*this, d->Name(), d->Fields(), d->Options()));
  }
  Changed();
}

void TIndexDefs::Changed() const {
  if (OnChange) OnChange();
}

}  // namespace vevura
