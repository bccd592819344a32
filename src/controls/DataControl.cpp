#include "controls/DataControl.h"

#include "controls/DataGrid.h"
#include "platform/Recordset.h"

namespace fm {

DataControl::DataControl(const Site& site) : Control(site), mBinding(std::make_shared<Binding>()) {
  // The data control is the plumbing between a record set and its grids; the screen
  // never shows it.
  SetVisible(false);
}

DataControl::~DataControl() {
  // Grids outliving the data control keep showing nothing rather than a record set no one
  // can change any more.
  const auto grids = mBinding->grids;
  mBinding->recordset.reset();
  for (DataGrid* grid : grids) grid->DetachFromSource();
}

void DataControl::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

void DataControl::SetRecordset(std::shared_ptr<Recordset> recordset) {
  mBinding->recordset = std::move(recordset);
  NotifyChanged();
  // A copy: a grid's handler may bind or unbind grids while we go.
  const auto grids = mBinding->grids;
  for (DataGrid* grid : grids) grid->Rebind();
}

}  // namespace fm
