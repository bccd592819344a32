#pragma once

#include <memory>
#include <string_view>

#include "protocol/Messages.h"

namespace fm {

class Recordset;

// Conversions between the screen's record sets and the data sets of the wire.
//
// Column types map one to one (Text, Integer, Double); null stays null, 64-bit integers keep
// every digit. Neither conversion moves the source's cursor.

// The visible rows of `recordset` (its filter and sort in force), in their current order,
// with the values they hold now (an edit not yet ended included). A double that is not a
// finite number cannot travel and throws PlatformError naming the row and column.
protocol::DataSet ToWireDataSet(const Recordset& recordset);

// A new record set holding the rows of `dataSet`, its cursor on the first row. When
// `templateName` names a row layout ("TROOPFORM", "OFFICER"), columns of that layout take
// its declared text sizes. A row whose cell count differs from the columns, or a cell that
// does not fit its column's type (a text in a numeric column that is not a number, a
// fraction in an integer column), throws PlatformError naming the row and column; duplicate
// column names throw too.
std::shared_ptr<Recordset> FromWireDataSet(const protocol::DataSet& dataSet,
                                           std::string_view templateName = {});
// The same, taking the data set's texts instead of copying them.
std::shared_ptr<Recordset> FromWireDataSet(protocol::DataSet&& dataSet,
                                           std::string_view templateName = {});

}  // namespace fm
