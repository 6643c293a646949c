#include "components/framework/data_source.h"

#include <algorithm>

namespace vevura {

bool MasterChainReaches(const TDataSet* from, const TDataSet* target) {
  // The step limit ends the walk on a chain that already loops.
  for (int steps = 0; from != nullptr && steps < 4096; ++steps) {
    if (from == target) return true;
    const TDataSource* up = from->GetDataSource();
    from = up != nullptr ? up->DataSet() : nullptr;
  }
  return false;
}

// ----- TDataSource -----

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  for (TDataLink* link : links_) {
    link->source_ = nullptr;
    link->active_ = false;
  }
  if (dataset_ != nullptr) dataset_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  // A dataset that follows (through master sources) a detail of this
  // source would end up following itself.
  for (TDataLink* link : links_) {
    const auto* master = dynamic_cast<TMasterDataLink*>(link);
    if (master != nullptr && MasterChainReaches(dataset, &master->Detail())) {
      throw EDatabaseError(msg::SCircularDataLink);
    }
  }
  if (dataset_ != nullptr) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->AddDataSource(this);
  DataEvent(deUpdateState, nullptr);
}

void TDataSource::SetEnabled(bool enabled) {
  enabled_ = enabled;
  DataEvent(deUpdateState, nullptr);
}

TDataSetState TDataSource::State() const {
  return dataset_ != nullptr && enabled_ ? dataset_->State() : dsInactive;
}

void TDataSource::DataEvent(TDataEvent event, TField* info) {
  if (event == deUpdateState) {
    const TDataSetState now = State();
    const bool changed = now != last_state_;
    last_state_ = now;
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links) link->UpdateActive();
    if (changed && OnStateChange) OnStateChange(*this);
    return;
  }
  if (!enabled_) return;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->Receive(event, info);
  if ((event == deFieldChange || event == deRecordChange || event == deDataSetChange ||
       event == deDataSetScroll || event == deLayoutChange) &&
      OnDataChange) {
    OnDataChange(*this, event == deFieldChange ? info : nullptr);
  }
}

// ----- TDataLink -----

TDataLink::~TDataLink() {
  if (source_ != nullptr) std::erase(source_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_ != nullptr) std::erase(source_->links_, this);
  source_ = source;
  if (source_ != nullptr) source_->links_.push_back(this);
  UpdateActive();
}

void TDataLink::UpdateActive() {
  const bool active = source_ != nullptr && source_->State() != dsInactive;
  const bool editing =
      source_ != nullptr && (source_->State() == dsEdit || source_->State() == dsInsert);
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::Receive(TDataEvent event, TField* info) {
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      RecordChanged(event == deFieldChange ? info : nullptr);
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled();
      break;
    case deLayoutChange:
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateData();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deUpdateState:
      break;
  }
}

// ----- TMasterDataLink -----

void TMasterDataLink::SetFieldNames(const std::string& names) {
  field_names_ = names;
  if (Active()) ActiveChanged();
}

void TMasterDataLink::FindFields() {
  fields_.clear();
  if (Active()) fields_ = DataSet()->GetFieldList(field_names_);
}

void TMasterDataLink::ActiveChanged() {
  if (Active()) {
    FindFields();
    if (OnMasterChange) OnMasterChange();
  } else {
    fields_.clear();
    if (OnMasterDisable) OnMasterDisable();
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) {
    return;
  }
  // Field edits of a master in edit mode wait for its post.
  if (field != nullptr && (DataSet()->State() == dsEdit || DataSet()->State() == dsInsert)) {
    return;
  }
  if (OnMasterChange) OnMasterChange();
}

void TMasterDataLink::DataSetChanged() {
  if (OnMasterChange) OnMasterChange();
}

void TMasterDataLink::LayoutChanged() {
  FindFields();
  DataSetChanged();
}

}  // namespace vevura
