#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"
#include "server/store/StoreTypes.h"

namespace fm::protocol {
class JsonWriter;
}

namespace fm::server {

// Conversions between the "TROOPFORM" and "OFFICER" row layouts of the wire and the
// store's values.

// The change rows of a save. Required columns: ACTION ("ADD" or "UPD"), FORM_TYP_CD,
// FRM_FORM_NBR, TO_FORM_NBR, TRP_ID, and ROW_VERSION in every "UPD" row; the others may be
// missing (read as null), and columns beyond the layout are ignored. Numbers may come as
// integers, whole doubles or texts of digits; codes are trimmed and upper-cased; a blank text
// is null. Throws RequestError naming the row and column.
std::vector<RangeChange> ChangesFromDataSet(const protocol::DataSet& rows);

// The message naming the first "UPD" row of `rows` without a ROW_VERSION, or nullopt when
// every "UPD" row carries one (rows ChangesFromDataSet refuses for another reason are left
// to it). The HTTP front answers such a save 422 before handling it.
std::optional<std::string> MissingRowVersion(const protocol::DataSet& rows);

// The "TROOPFORM" reply rows, each with its ROW_VERSION. A thin set leaves FORM_TYP_DESC null
// and carries only the layout's columns; a full set fills FORM_TYP_DESC and adds LAST_CHG_TS,
// LAST_CHG_REQ_ID and LAST_CHG_USR_ID (when and by which request and user the range last changed).
protocol::DataSet TroopFormDataSet(const std::vector<StoredRange>& ranges, bool thin);

// The columns of TroopFormDataSet, and one of its rows written as JSON (the array of cells,
// the same bytes as the data set's row): a reply's ranges go from the store's cursor into the
// reply's text without a data set in between.
std::vector<protocol::Column> TroopFormColumns(bool thin);
void WriteTroopFormRow(protocol::JsonWriter& out, const StoredRange& stored, bool thin);

// The "OFFICER" reply rows.
protocol::DataSet OfficerDataSet(const std::vector<Officer>& officers);
// One of its rows written as JSON, the same bytes as the data set's row.
void WriteOfficerRow(protocol::JsonWriter& out, const Officer& officer);

// The columns of the two reply data sets as JSON text (JsonWriter::WriteColumns), rendered
// once for the life of the process: every search's reply starts its data sets with them.
const std::string& TroopFormColumnsJson(bool thin);
const std::string& OfficerColumnsJson();

}  // namespace fm::server
