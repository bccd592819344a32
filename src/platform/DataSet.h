#pragma once

#include <memory>
#include <string>

#include "platform/Recordset.h"

namespace fm {

class LocalDatabase;

// The common library's wrapper of one record set: built from a template name
// ("TROOPFORM", "OFFICER": an empty record set of the template's columns) or from an SQL
// text run against the local database (the query's rows).
//
// Use: set the source, Open, then read the record set. Open with an SQL text that the
// database refuses throws PlatformError with the database's words; the data set then stays
// closed. Using the record set of a closed data set throws.
class DataSet {
 public:
  // `database` answers SQL sources; nullptr means the process-wide local database
  // (Services::Database()) at the time of Open.
  explicit DataSet(std::shared_ptr<LocalDatabase> database = nullptr);
  // A data set that wraps an existing record set (a reply's data, a grid's rows).
  static std::shared_ptr<DataSet> Wrap(std::shared_ptr<Recordset> recordset);

  void SetSource(std::string source);
  const std::string& Source() const { return mSource; }
  void Open();
  void Close();
  bool IsOpen() const { return mRecordset != nullptr; }

  // The record set; throws PlatformError if the data set is not open.
  Recordset& GetRecordset() const;
  std::shared_ptr<Recordset> RecordsetPtr() const;
  // Replaces the record set (what a data control hands back after re-binding).
  void SetRecordset(std::shared_ptr<Recordset> recordset);

  long RecordCount() const;
  bool IsEOF() const;
  void MoveFirst();
  void MoveNext();

 private:
  std::shared_ptr<LocalDatabase> mDatabase;
  std::string mSource;
  std::shared_ptr<Recordset> mRecordset;
};

}  // namespace fm
