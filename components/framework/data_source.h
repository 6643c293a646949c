#pragma once
// Data sources and data links: how one dataset follows another.
//
// A TDataSource names a dataset and passes that dataset's events (db_types
// TDataEvent) to the links attached to it and to its own events. A
// TDataLink is the receiving end: TMasterDataLink, used for master-detail,
// keeps the master fields named by a ";"-separated list and calls
// OnMasterChange whenever the master's record (or one of those fields)
// changes, and OnMasterDisable when the master closes.
//
// Lifetime: a source and its dataset forget each other when either is
// destroyed; so do a link and its source.

#include <functional>
#include <string>
#include <vector>

#include "components/framework/component.h"
#include "components/framework/dataset.h"

namespace vevura {

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  //! Attaches to dataset (nullptr: none). A detail of this source may not
  //! come to follow itself through the chain of master sources: "Circular
  //! data links are not allowed."
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  //! The dataset's state, or dsInactive without an open dataset.
  TDataSetState State() const;

  //! Runs after every change of the dataset's state.
  std::function<void(TDataSource& sender)> OnStateChange;
  //! Runs when the current record or one of its fields (field) changed.
  std::function<void(TDataSource& sender, TField* field)> OnDataChange;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, TField* info);
  void DataSetGone() { dataset_ = nullptr; }

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  TDataSetState last_state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return source_ != nullptr ? source_->DataSet() : nullptr; }
  //! The source's dataset is open and the source enabled.
  bool Active() const { return active_; }

 protected:
  virtual void ActiveChanged() {}
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}

 private:
  friend class TDataSource;
  void Receive(TDataEvent event, TField* info);
  void UpdateActive();

  TDataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
};

class TMasterDataLink : public TDataLink {
 public:
  //! detail is the dataset that follows the master (for circularity checks).
  explicit TMasterDataLink(TDataSet& detail) : detail_(detail) {}

  //! ";"-separated names of the master's fields.
  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& names);
  //! The master's fields of FieldNames while active.
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet& Detail() const { return detail_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;
  void DataSetChanged() override;
  void DataSetScrolled() override { DataSetChanged(); }
  void LayoutChanged() override;

 private:
  void FindFields();

  TDataSet& detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

//! True when target is from or one of the masters from follows, through
//! the data sources of GetDataSource.
bool MasterChainReaches(const TDataSet* from, const TDataSet* target);

}  // namespace vevura
