#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server/store/StoreTypes.h"

namespace fm::server {

class SqlConnection;

// The reference data that governs the inventory: form types with their number bounds,
// status codes ("A" and the delisting reasons), troops and districts, and officers with
// their duty stations. Immutable once built; safe to read from any thread.
class ReferenceData {
 public:
  struct Troop {
    std::string id;
    std::string name;
  };
  struct District {
    std::string troop;
    std::string id;
    std::string name;
  };
  struct Status {
    std::string code;
    std::string description;
  };

  // Builds the reference data of `region` from the workstation's demo database (the schema
  // and demo SQL compiled into the platform library), so the server and the workstation
  // know the same form types, reasons, stations and officers. Of a code with several
  // entries the one in force today is taken, preferring an entry without an end date.
  // Throws StoreError::Internal when the demo data is unusable (a form type whose bounds
  // are not "low-high") or holds nothing for the region.
  static ReferenceData FromDemoDatabase(const std::string& region);
  // Reads the reference tables of the store. Throws SqlError.
  static ReferenceData FromStore(SqlConnection& connection);
  // Writes the reference tables of an empty store. Throws SqlError.
  void WriteTo(SqlConnection& connection) const;

  const std::vector<FormTypeInfo>& FormTypes() const { return mFormTypes; }
  const std::vector<Status>& Statuses() const { return mStatuses; }
  const std::vector<Troop>& Troops() const { return mTroops; }
  const std::vector<District>& Districts() const { return mDistricts; }
  const std::vector<Officer>& Officers() const { return mOfficers; }

  // nullptr when the code is unknown.
  const FormTypeInfo* FindFormType(const std::string& code) const;
  bool HasStatus(const std::string& code) const;
  // A troop alone (empty district) or a known troop and district.
  bool HasStation(const std::string& troop, const std::string& district) const;
  // The statuses of forms still in stock: "A" (in use) and the one described "Unassign";
  // every other status delists.
  std::vector<std::string> StockStatuses() const;
  bool IsStockStatus(const std::string& code) const;
  // 0 (no officer) or a known registry number.
  bool HasRegistry(std::int64_t registry) const;

 private:
  void Index();

  std::vector<FormTypeInfo> mFormTypes;
  std::vector<Status> mStatuses;
  std::vector<Troop> mTroops;
  std::vector<District> mDistricts;
  std::vector<Officer> mOfficers;
  // Look-up indexes, built by Index().
  std::map<std::string, std::size_t, std::less<>> mFormTypeIndex;
  std::set<std::string, std::less<>> mStatusCodes;
  std::set<std::pair<std::string, std::string>> mStations;
  std::set<std::int64_t> mRegistries;
};

}  // namespace fm::server
