#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controls/Control.h"

namespace fm {

class DataGrid;
class Recordset;

// The data control: holds a record set and shows it in the grids bound to it. Setting the
// record set (even the same one again) re-binds every bound grid: they forget their
// computed cells and selection and show the new rows.
//
// The record set is shared with whoever made it (the screen's data sets); the data control
// only keeps it alive while it holds it.
class DataControl final : public Control {
 public:
  // The link between a data control and its grids; a grid keeps it, so either side may go
  // first when the form is destroyed.
  struct Binding {
    std::shared_ptr<Recordset> recordset;
    std::vector<DataGrid*> grids;
  };

  explicit DataControl(const Site& site);
  ~DataControl() override;

  ControlKind Kind() const override { return ControlKind::DataControl; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);

  // nullptr when none is set.
  std::shared_ptr<Recordset> RecordsetPtr() const { return mBinding->recordset; }
  // nullptr unbinds the grids (they show no rows).
  void SetRecordset(std::shared_ptr<Recordset> recordset);

  const std::shared_ptr<Binding>& GetBinding() const { return mBinding; }

 private:
  std::string mCaption;
  std::shared_ptr<Binding> mBinding;
};

}  // namespace fm
