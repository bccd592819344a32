#include "platform/DataSet.h"

#include <fmt/format.h>

#include <string_view>
#include <utility>

#include "platform/DataSetTemplates.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"

namespace fm {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

DataSet::DataSet(std::shared_ptr<LocalDatabase> database) : mDatabase(std::move(database)) {}

std::shared_ptr<DataSet> DataSet::Wrap(std::shared_ptr<Recordset> recordset) {
  auto dataSet = std::make_shared<DataSet>();
  dataSet->mRecordset = std::move(recordset);
  return dataSet;
}

void DataSet::SetSource(std::string source) { mSource = std::move(source); }

void DataSet::Open() {
  // Opening again runs the source afresh; if that fails the data set is closed, so a
  // caller never goes on reading the rows of an earlier source.
  mRecordset.reset();
  const auto source = Trimmed(mSource);
  if (source.empty()) {
    throw PlatformError(PlatformError::kGeneric,
                        "The data set has no source: give it a template name or an SQL text "
                        "before opening it");
  }
  if (auto fields = TemplateFields(source)) {
    mRecordset = std::make_shared<Recordset>(std::move(*fields));
    return;
  }
  // Resolved at Open rather than at construction, so a data set created before the host
  // installs its database still reads the installed one.
  auto database = mDatabase ? mDatabase : Services::Database();
  if (!database) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("The data set's source is neither a template name nor "
                                    "runnable: no local database is open [source: {}]",
                                    source));
  }
  mRecordset = database->Query(mSource);
}

void DataSet::Close() { mRecordset.reset(); }

Recordset& DataSet::GetRecordset() const { return *RecordsetPtr(); }

std::shared_ptr<Recordset> DataSet::RecordsetPtr() const {
  if (!mRecordset) {
    throw PlatformError(
        PlatformError::kObjectClosed,
        mSource.empty() ? std::string("The data set is closed: open it before using its record set")
                        : fmt::format("The data set is closed: open it before using its record set "
                                      "[source: {}]",
                                      Trimmed(mSource)));
  }
  return mRecordset;
}

void DataSet::SetRecordset(std::shared_ptr<Recordset> recordset) {
  mRecordset = std::move(recordset);
}

long DataSet::RecordCount() const { return GetRecordset().RecordCount(); }

bool DataSet::IsEOF() const { return GetRecordset().IsEOF(); }

// The look-ups move to the first row before they test for the end, also when the query
// found nothing: on an empty set that is no error, the set simply stays at its end.
void DataSet::MoveFirst() {
  auto& recordset = GetRecordset();
  if (recordset.RecordCount() > 0) recordset.MoveFirst();
}

void DataSet::MoveNext() { GetRecordset().MoveNext(); }

}  // namespace fm
