#include "components/vevura_table.h"

#include <algorithm>

#include "components/framework/scope_exit.h"
#include "components/vevura_database.h"
#include "components/vevura_session.h"
#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/table_create.h"
#include "engine/core/table_delete.h"
#include "engine/core/table_repair.h"
#include "engine/core/table_verify.h"

namespace vevura {

namespace {

constexpr int kFlagOpen = 0;
constexpr int kFlagTableOperation = 3;
constexpr int kFlagFieldDefs = 4;
constexpr int kFlagIndexDefs = 5;
constexpr size_t kNameLength = 30;
constexpr int kMaxKeyFields = 16;

struct TEngineType {
  uint8_t Type = fcNone;
  uint8_t Subtype = fsNone;
  bool PassesSize = false;  //!< the definition's size goes to the descriptor
};

//! The engine type a framework type is created as (type 0: refused).
TEngineType EngineTypeOf(TFieldType type) {
  switch (type) {
    case ftString:
      return {fcString, fsNone, true};
    case ftFixedChar:
      return {fcString, fsFixedChar, true};
    case ftWideString:
      return {fcString, fsWideString, false};
    case ftGuid:
      return {fcString, fsNone, false};
    case ftDate:
      return {fcDate, fsNone, false};
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob:
    case ftOraClob:
      return {fcBlob, fsNone, false};
    case ftMemo:
      return {fcBlob, fsMemo, false};
    case ftFmtMemo:
      return {fcBlob, fsFmtMemo, false};
    case ftGraphic:
      return {fcBlob, fsGraphic, false};
    case ftTypedBinary:
      return {fcBlob, fsTypedBinary, false};
    case ftBoolean:
      return {fcBoolean, fsNone, false};
    case ftSmallint:
      return {fcSmallInt, fsNone, false};
    case ftInteger:
      return {fcInteger, fsNone, false};
    case ftAutoInc:
      return {fcInteger, fsAutoInc, false};
    case ftFloat:
      return {fcFloat, fsNone, false};
    case ftCurrency:
      return {fcFloat, fsMoney, false};
    case ftBCD:
      return {fcBCD, fsNone, true};
    case ftBytes:
      return {fcBytes, fsNone, true};
    case ftTime:
      return {fcTime, fsNone, false};
    case ftDateTime:
      return {fcTimeStamp, fsNone, false};
    case ftWord:
      return {fcWord, fsNone, false};
    case ftVarBytes:
      return {fcVarBytes, fsNone, true};
    case ftCursor:
      return {fcCursor, fsNone, false};
    case ftLargeint:
      return {fcLargeInt, fsNone, false};
    case ftADT:
      return {fcADT, fsNone, false};
    case ftArray:
      return {fcArray, fsNone, false};
    case ftReference:
      return {fcReference, fsNone, false};
    case ftDataSet:
      return {fcDataSet, fsNone, false};
    default:
      return {};
  }
}

//! The engine field descriptor of definition i (field number i + 1).
TFieldDescriptor FieldDescriptorOf(const TFieldDef& def, int i) {
  TFieldDescriptor d;
  d.FieldNumber = static_cast<uint16_t>(i + 1);
  d.Name = def.Name().substr(0, kNameLength);
  const TEngineType engine = EngineTypeOf(def.DataType());
  d.Type = engine.Type;
  d.Subtype = engine.Subtype;
  // The size travels as an 8-bit value; a decimal's is its number of places.
  const auto size = static_cast<uint8_t>(engine.PassesSize ? def.Size() & 0xFF : 0);
  if (engine.Type == fcBCD) {
    d.Scale = size;
  } else {
    d.Size = size;
  }
  d.Required = def.Required() ? 1 : 0;
  return d;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ";") + name;
  return list;
}

//! Whether list begins with the field list prefix (ignoring case), ending
//! there or at a ";".
bool ListBeginsWith(const std::vector<std::string>& list, const std::vector<std::string>& prefix) {
  if (prefix.empty() || prefix.size() > list.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!SameName(list[i], prefix[i])) return false;
  }
  return true;
}

}  // namespace

TVEVURATable::TVEVURATable(TComponent* owner) : TVEVURADBDataSet(owner), master_link_(*this) {
  FieldDefs().OnChange = [this] { store_defs_ = true; };
  FieldDefs().Updater = [this] { UpdateFieldDefs(); };
  index_defs_.OnChange = [this] { store_defs_ = true; };
  index_defs_.Updater = [this] { UpdateIndexDefs(); };
  master_link_.OnMasterChange = [this] {
    if (Active()) ApplyMasterRange();
  };
  master_link_.OnMasterDisable = [this] {
    if (Active() && State() == dsBrowse) TVEVURADataSet::CancelRange();
  };
}

TVEVURATable::~TVEVURATable() {
  try {
    Close();
  } catch (...) {
  }
  master_link_.SetDataSource(nullptr);
}

// ----- Properties -----

void TVEVURATable::SetTableName(const std::string& name) {
  const std::string text = NormalizeDatabaseName(name);
  if (text == table_name_) return;
  CheckInactive();
  const size_t cut = text.find_last_of("/:");
  if (cut != std::string::npos && !InMemory()) {
    SetDatabaseName(text.substr(0, cut + 1));
    table_name_ = text.substr(cut + 1);
  } else {
    table_name_ = text;
  }
  MarkIndexDefsStale();
}

void TVEVURATable::SetExclusive(bool exclusive) {
  if (exclusive == exclusive_) return;
  CheckInactive();
  exclusive_ = exclusive;
}

void TVEVURATable::SetReadOnly(bool read_only) {
  if (read_only == read_only_) return;
  CheckInactive();
  read_only_ = read_only;
}

bool TVEVURATable::InMemory() const {
  return SameName(DatabaseName(), "Memory");
}

void TVEVURATable::SetIndexName(const std::string& name) {
  ChangeIndex(name, false);
}

void TVEVURATable::SetIndexFieldNames(const std::string& fields) {
  ChangeIndex(fields, !fields.empty());
}

void TVEVURATable::SetMasterSource(TDataSource* source) {
  if (source != nullptr && MasterChainReaches(source->DataSet(), this)) {
    RaiseError(msg::SCircularDataLink);
  }
  master_link_.SetDataSource(source);
  if (Active() && source == nullptr) TVEVURADataSet::CancelRange();
}

void TVEVURATable::SetMasterFields(const std::string& fields) {
  master_link_.SetFieldNames(fields);
}

// ----- Cursors -----

TPasswordRequest TVEVURATable::PasswordHook() {
  TVEVURASession* session = &DBSession();
  return [session] { return session->AskForPassword(); };
}

std::unique_ptr<TDataCursor> TVEVURATable::MakeCursor(bool exclusive, bool read_only,
                                                      bool password_hook) {
  auto cursor = std::make_unique<TDataCursor>(DataDirectory());
  cursor->SetTableName(table_name_);
  cursor->SetExclusive(exclusive);
  cursor->SetReadOnly(read_only);
  cursor->SetInMemory(InMemory());
  if (password_hook) cursor->SetPasswordRequest(PasswordHook());
  return cursor;
}

void TVEVURATable::InternalOpen() {
  TVEVURADBDataSet::InternalOpen();
  if (master_link_.Active()) ApplyMasterRange();
}

std::unique_ptr<TDataCursor> TVEVURATable::CreateHandle() {
  SetDBFlag(kFlagOpen, true);
  try {
    if (table_name_.empty()) throw EDatabaseError(msg::SNoTableName);
    MarkIndexDefsStale();
    auto cursor = MakeCursor(exclusive_, read_only_, true);
    cursor->OpenCursor();
    read_only_ = cursor->ReadOnly();
    const std::string index = SelectedIndexName(*cursor);
    if (!index.empty()) cursor->SwitchToIndex(index);
    return cursor;
  } catch (...) {
    SetDBFlag(kFlagOpen, false);
    throw;
  }
}

void TVEVURATable::DestroyHandle() {
  TScopeExit drop([this] {
    try {
      SetDBFlag(kFlagOpen, false);
    } catch (...) {
    }
  });
  TVEVURADBDataSet::DestroyHandle();
}

void TVEVURATable::WithReadingCursor(int flag, const std::function<void(TDataCursor&)>& read) {
  if (TDataCursor* open = Handle()) return read(*open);
  if (table_name_.empty()) throw EDatabaseError(msg::SNoTableName);
  WithDBFlag(flag, [&] {
    auto cursor = MakeCursor(false, false, true);
    cursor->OpenCursor();
    read(*cursor);
    cursor->CloseCursor(false);
  });
}

// ----- Definitions -----

void TVEVURATable::UpdateFieldDefs() {
  WithReadingCursor(kFlagFieldDefs, [&](TDataCursor& cursor) { ReadFieldDefs(cursor); });
}

void TVEVURATable::UpdateIndexDefs() {
  if (index_defs_current_ && Active()) return;
  WithReadingCursor(kFlagIndexDefs, [&](TDataCursor& cursor) { ReadIndexDefs(cursor); });
}

void TVEVURATable::ReadIndexDefs(TDataCursor& cursor) {
  const TChangesUnannounced quiet(index_defs_.OnChange);
  index_defs_.Clear();
  const auto& fields = cursor.Fields();
  for (int n = 0; n <= cursor.SecondaryIndexCount(); ++n) {
    if (n == 0 && !cursor.HasPrimaryIndex()) continue;
    const TIndexDescriptor d = cursor.IndexDescriptor(static_cast<uint8_t>(n));
    std::vector<std::string> names;
    for (int i = 0; i < d.FieldCount && i < kMaxKeyFields; ++i) {
      const uint16_t number = d.FieldNumbers[i];
      if (number >= 1 && number <= fields.size()) names.push_back(fields[number - 1].Name);
    }
    TIndexOptions options;
    if (n == 0) options.Include(ixPrimary);
    if (d.Descending != 0) options.Include(ixDescending);
    if (d.CaseInsensitive != 0) options.Include(ixCaseInsensitive);
    if (d.Unique != 0) options.Include(ixUnique);
    index_defs_.Add(d.Name, JoinNames(names), options);
  }
  index_defs_current_ = true;
}

std::string TVEVURATable::SelectedIndexName(TDataCursor& cursor) {
  if (!by_fields_) return index_selection_;
  ReadIndexDefs(cursor);
  const std::vector<std::string> wanted = SplitFieldNames(index_selection_);
  const TIndexDef* exact = nullptr;
  const TIndexDef* leading = nullptr;
  for (const auto& def : index_defs_) {
    if (def->Options().Contains(ixDescending) || def->Options().Contains(ixExpression)) continue;
    const std::vector<std::string> fields = SplitFieldNames(def->Fields());
    if (exact == nullptr && fields.size() == wanted.size() && ListBeginsWith(fields, wanted)) {
      exact = def.get();
    }
    if (leading == nullptr && ListBeginsWith(fields, wanted)) leading = def.get();
  }
  const TIndexDef* chosen = exact != nullptr ? exact : leading;
  if (chosen == nullptr) RaiseError(FormatMessage(msg::SIndexNotFound, index_selection_));
  return chosen->Options().Contains(ixPrimary) ? std::string() : chosen->Name();
}

void TVEVURATable::ChangeIndex(const std::string& selection, bool by_fields) {
  if (!Active()) {
    index_selection_ = selection;
    by_fields_ = by_fields;
    return;
  }
  CheckBrowseMode();
  const std::string saved_selection = index_selection_;
  const bool saved_by_fields = by_fields_;
  index_selection_ = selection;
  by_fields_ = by_fields;
  std::string name;
  try {
    name = SelectedIndexName(*Handle());
  } catch (...) {
    index_selection_ = saved_selection;
    by_fields_ = saved_by_fields;
    throw;
  }
  Handle()->CancelRange();
  Handle()->SwitchToIndex(name);
  IndexChanged();
  if (master_link_.Active()) ApplyMasterRange();
  Resync();
  DataEvent(deDataSetChange);
}

// ----- Table operations -----

bool TVEVURATable::Exists() {
  if (Active()) return true;
  if (table_name_.empty()) return false;
  return WithDBFlag(kFlagTableOperation, [&] {
    TVEVURADatabase* database = Database();
    TDataDirectory* directory = database != nullptr ? database->DataDirectory() : nullptr;
    return directory != nullptr && directory->TableExists(table_name_, InMemory());
  });
}

void TVEVURATable::DeleteTable() {
  CheckInactive();
  WithDBFlag(kFlagTableOperation, [&] {
    auto cursor = MakeCursor(true, read_only_, true);
    ::vevura::DeleteTable(DataDirectory(), cursor->Target(), PasswordHook());
  });
}

bool TVEVURATable::VerifyTable() {
  CheckInactive();
  return WithDBFlag(kFlagTableOperation, [&] {
    TTableVerifyReport report =
        ::vevura::VerifyTable(DataDirectory(), table_name_, InMemory(), [this](int percent) {
          bool go_on = true;
          if (OnVerifyProgress) OnVerifyProgress(*this, percent, go_on);
        });
    if (OnVerifyLog) {
      for (const std::string& problem : report.Problems) OnVerifyLog(*this, problem);
    }
    return report.Clean();
  });
}

bool TVEVURATable::RepairTable(const std::string& backup_directory) {
  CheckInactive();
  return WithDBFlag(kFlagTableOperation, [&] {
    TRepairOptions options;
    options.BackupDirectory = backup_directory;
    options.InMemory = InMemory();
    options.Progress = [this](int percent) {
      bool go_on = true;
      if (OnRepairProgress) OnRepairProgress(*this, percent, go_on);
    };
    options.Log = [this](const std::string& line) {
      if (OnRepairLog) OnRepairLog(*this, line);
    };
    TTableRepairReport report = ::vevura::RepairTable(DataDirectory(), table_name_, options);
    if (OnRepairLog) {
      for (const std::string& problem : report.After.Problems) OnRepairLog(*this, problem);
    }
    return report.Sound();
  });
}

void TVEVURATable::CreateTable() {
  CheckInactive();
  TFieldDefs& defs = FieldDefs();
  if (defs.Empty()) {
    for (const auto& field : Fields()) {
      if (field->FieldKind() != fkData) continue;
      defs.Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
    }
  }
  WithDBFlag(kFlagTableOperation, [&] {
    auto cursor = MakeCursor(true, false, false);
    TTableDefinition definition;
    for (int i = 0; i < defs.Count(); ++i)
      definition.Fields.push_back(FieldDescriptorOf(defs[i], i));

    // Primary definitions move to the front, each before the ones moved earlier.
    for (int i = 1; i < index_defs_.Count(); ++i) {
      if (index_defs_[i].Options().Contains(ixPrimary)) index_defs_.Move(i, 0);
    }
    TIndexDescriptor& text = definition.Indexes[kIndexCount - 1];
    text.Name = "Sys Text";
    text.Compression = lcFull;
    const bool has_primary = !index_defs_.Empty() && index_defs_[0].Options().Contains(ixPrimary);
    int slot = has_primary ? 0 : 1;
    for (const auto& def : index_defs_) {
      if (slot >= kIndexCount - 1) break;
      TIndexDescriptor& d = definition.Indexes[static_cast<size_t>(slot++)];
      d.Name = def->Name().substr(0, kNameLength);
      const TIndexOptions options = def->Options();
      d.Descending = options.Contains(ixDescending) ? 1 : 0;
      d.FieldDescending.fill(d.Descending);
      d.CaseInsensitive = options.Contains(ixCaseInsensitive) ? 1 : 0;
      d.Unique = options.Contains(ixUnique) ? 1 : 0;
      d.Compression = lcNone;
      const std::vector<std::string> names = SplitFieldNames(def->Fields());
      for (size_t i = 0; i < names.size() && i < kMaxKeyFields; ++i) {
        const TFieldDef* field = defs.Find(names[i]);
        if (field == nullptr) RaiseError(FormatMessage(msg::SFieldNotFound, names[i]));
        d.FieldNumbers[i] = static_cast<uint16_t>(field->Index() + 1);
      }
    }
    definition.SecondaryIndexCount = static_cast<uint8_t>(slot - 1);
    definition.AllowNoPrimaryIndex = true;
    ::vevura::CreateTable(DataDirectory(), cursor->Target(), std::move(definition));
  });
}

// ----- Master-detail -----

void TVEVURATable::ApplyMasterRange() {
  std::vector<TValue> values;
  for (TField* field : master_link_.Fields()) values.push_back(field->Value());
  values.resize(std::min<size_t>(values.size(), static_cast<size_t>(IndexFieldCount())));
  const bool reading = State() == dsBrowse;
  SetKeyRange(values, values);
  if (reading) First();
}

void TVEVURATable::CopyMasterValues() {
  if (!master_link_.Active()) return;
  const auto& masters = master_link_.Fields();
  const int n = std::min<int>(static_cast<int>(masters.size()), IndexFieldCount());
  for (int i = 0; i < n; ++i) IndexField(i)->SetValue(masters[static_cast<size_t>(i)]->Value());
}

}  // namespace vevura
