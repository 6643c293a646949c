#pragma once
// The field and index definitions of a dataset: what a table is made of,
// filled by the application before it creates a table, or read from an
// existing table on demand.
//
// TFieldDefs and TIndexDefs are ordered collections that own their items.
// An owner may watch them: OnChange runs after every change (the table
// component sets its StoreDefs then), and Update asks the owner to fill the
// collection from the table (Updater).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/framework/db_types.h"

namespace vevura {

class TFieldDefs;
class TIndexDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs& owner, std::string name, TFieldType type, int32_t size, bool required,
            int32_t field_no);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type);
  //! Characters of a string, bytes of a byte field, decimals of a BCD field.
  int32_t Size() const { return size_; }
  void SetSize(int32_t size);
  //! Digits of a BCD field.
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t precision);
  bool Required() const { return required_; }
  void SetRequired(bool required);
  //! 1-based number of the field in its table (its place when made here).
  int32_t FieldNo() const { return field_no_; }
  //! Place in the collection.
  int Index() const;

 private:
  void Changed();

  TFieldDefs& owner_;
  std::string name_;
  TFieldType data_type_;
  int32_t size_;
  int32_t precision_ = 0;
  bool required_;
  int32_t field_no_;
};

class TFieldDefs {
 public:
  TFieldDefs() = default;
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  //! Appends a definition numbered after the last one.
  TFieldDef& Add(const std::string& name, TFieldType type, int32_t size = 0, bool required = false);
  //! Appends a definition with the given field number (readers of a table).
  TFieldDef& AddNumbered(const std::string& name, TFieldType type, int32_t size, bool required,
                         int32_t field_no);
  void Clear();
  void Delete(int index);
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TFieldDef& operator[](int index) const { return *items_.at(index); }
  //! The definition named name (ignoring case), or nullptr.
  TFieldDef* Find(const std::string& name) const;
  //! -1 when there is none.
  int IndexOf(const std::string& name) const;
  //! Fills the collection from the table when the owner can (Updater).
  void Update();
  //! Copies every definition of other.
  void Assign(const TFieldDefs& other);

  std::vector<std::unique_ptr<TFieldDef>>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::unique_ptr<TFieldDef>>::const_iterator end() const { return items_.end(); }

  //! Runs after every change of the collection or one of its definitions.
  std::function<void()> OnChange;
  //! Fills the collection from the table (set by the owning dataset).
  std::function<void()> Updater;

 private:
  friend class TFieldDef;
  void Changed() const;
  std::vector<std::unique_ptr<TFieldDef>> items_;
};

class TIndexDef {
 public:
  TIndexDef(TIndexDefs& owner, std::string name, std::string fields, TIndexOptions options);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  //! Field names separated by ";".
  const std::string& Fields() const { return fields_; }
  void SetFields(const std::string& fields);
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions options);
  int Index() const;

 private:
  void Changed();

  TIndexDefs& owner_;
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  TIndexDefs() = default;
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  void Clear();
  void Delete(int index);
  //! Moves the definition at from to place to, the others keeping their order.
  void Move(int from, int to);
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TIndexDef& operator[](int index) const { return *items_.at(index); }
  //! The definition named name (ignoring case), or nullptr.
  TIndexDef* Find(const std::string& name) const;
  //! The first definition whose field list is fields (ignoring case), or
  //! nullptr.
  TIndexDef* FindByFields(const std::string& fields) const;
  void Update();
  void Assign(const TIndexDefs& other);

  std::vector<std::unique_ptr<TIndexDef>>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::unique_ptr<TIndexDef>>::const_iterator end() const { return items_.end(); }

  std::function<void()> OnChange;
  std::function<void()> Updater;

 private:
  friend class TIndexDef;
  void Changed() const;
  std::vector<std::unique_ptr<TIndexDef>> items_;
};

//! Keeps an OnChange event quiet while it lives (filling definitions from a
//! table is no change of the application's): the event is set aside and
//! put back.
class TChangesUnannounced {
 public:
  explicit TChangesUnannounced(std::function<void()>& on_change) : on_change_(on_change) {
    saved_.swap(on_change_);
  }
  ~TChangesUnannounced() { on_change_.swap(saved_); }
  TChangesUnannounced(const TChangesUnannounced&) = delete;
  TChangesUnannounced& operator=(const TChangesUnannounced&) = delete;

 private:
  std::function<void()>& on_change_;
  std::function<void()> saved_;
};

//! The names of a ";"-separated field list, blanks around each removed and
//! empty names left out.
std::vector<std::string> SplitFieldNames(const std::string& list);
//! Compares two names without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b);

}  // namespace vevura
