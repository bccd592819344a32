#pragma once

#include <string>
#include <vector>

#include "server/store/ReceiptStore.h"
#include "server/store/StoreTypes.h"

// What a save shares with the allotment limits (AllotmentStore.cpp).
namespace fm::server {

class ReferenceData;
class SqlConnection;

// Inside the save's transaction, once its rows are written: compares what each officer the
// save gave forms to (`given`) now holds unused with the caps and reissue rules of the
// stations the forms were given at (Store.h). Throws StoreError::OverLimit naming every
// limit broken, with its figures, unless the context's override lifts them all; keeps that
// override, stamped `at`, when it lifted any.
void CheckAllotments(SqlConnection& c, const SaveContext& context, const std::string& at,
                     const std::vector<GivenRange>& given, const ReferenceData& reference);

}  // namespace fm::server
