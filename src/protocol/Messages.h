#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

// The messages exchanged between the screen's message component and the forms server.
// Plain data with no behaviour: the JSON form is in protocol/Json.h, the rules of what a
// request may ask in server/handler/RequestHandler.h. Nothing here depends on the platform library,
// so the server and the client can both use it.
namespace fm::protocol {

// Message types of a request.
inline constexpr int kSearchMessage = 33;          // search
inline constexpr int kSaveRequeryMessage = 34;     // apply change rows, then search
inline constexpr int kFormHistoryMessage = 35;     // the chain of custody of one form
inline constexpr int kAccountabilityMessage = 36;  // a holder's accountability report
inline constexpr int kRecordUsageMessage = 37;     // record uses of form numbers (protocol/Usage.h)
inline constexpr int kReconcileMessage = 38;       // a holder's forms against their uses
inline constexpr int kStockMessage = 39;           // stock on hand, with the open stock alerts
inline constexpr int kSetStockMinimumMessage = 40;  // set (or remove) a station's minimum stock
inline constexpr int kHandReceiptMessage = 41;      // a hand receipt, shown or printed
// Physical counts (protocol/Count.h, docs/counts.md).
inline constexpr int kCountListMessage = 42;     // the counts of a station
inline constexpr int kCountShowMessage = 43;     // one count: book, result, certification
inline constexpr int kCountOpenMessage = 44;     // open a count, which fixes its book
inline constexpr int kCountEntryMessage = 45;    // enter counted numbers: spans or a text
inline constexpr int kCountCertifyMessage = 46;  // certify a count with a statement
inline constexpr int kCountSettleMessage = 47;   // settle a missing span: lost or found later

// Whether a server of this protocol answers the message type.
constexpr bool IsKnownMessageType(int type) {
  return type >= kSearchMessage && type <= kCountSettleMessage;
}

// Names of the data sets a request or reply carries.
inline constexpr const char* kTroopFormDataSet = "TROOPFORM";
inline constexpr const char* kOfficerDataSet = "OFFICER";
// In the reply to a save refused over an allotment cap or a reissue rule that the account
// may override: one row, OVERRIDABLE = "Y". The same save sent again with the criterion
// key:OVERRIDE_REASON (docs/allotment.md) passes, the reason kept in the history.
inline constexpr const char* kOverrideDataSet = "OVERRIDE";
inline constexpr const char* kOverrideReasonKey = "key:OVERRIDE_REASON";
// The longest reason an override keeps, in bytes: a sentence or two for the auditor.
inline constexpr std::size_t kMaxOverrideReasonLength = 500;

enum class ColumnType { Text, Integer, Double };

// "text", "integer", "double".
const char* ColumnTypeName(ColumnType type);

struct Column {
  std::string name;
  ColumnType type = ColumnType::Text;

  friend bool operator==(const Column&, const Column&) = default;
};

// One cell: null, a 64-bit integer, a double or a text.
using Cell = std::variant<std::monostate, std::int64_t, double, std::string>;
using Row = std::vector<Cell>;

// A table as it travels: typed columns and rows of cells. Every row has one cell per column,
// and a cell is null or of its column's type (an integer is accepted in a double column);
// the JSON reader enforces this.
struct DataSet {
  std::vector<Column> columns;
  std::vector<Row> rows;

  // Index of the column with this exact name, or -1.
  int ColumnIndex(const std::string& name) const;

  friend bool operator==(const DataSet&, const DataSet&) = default;
};

// One search criterion: key is "key:" followed by a name (key:TRP_ID...), op one of
// = <> < <= > >=, application the id of the sending application.
struct Criterion {
  std::string key;
  std::string value;
  std::string op = "=";
  std::string application;

  friend bool operator==(const Criterion&, const Criterion&) = default;
};

struct Request {
  std::string requestId;  // unique per request; a save with a known id is not applied twice
  std::string identity;   // the sending document; the reply carries it back
  std::string version;    // "1.0"
  std::string requester;  // the site's requester value
  std::int64_t userId = 0;
  int messageType = kSearchMessage;
  std::map<std::string, DataSet> dataSets;  // a save carries its change rows as "TROOPFORM"
  std::vector<Criterion> criteria;

  friend bool operator==(const Request&, const Request&) = default;
};

struct Reply {
  std::string requestId;
  std::string identity;
  bool ok = false;
  std::string error;                        // empty when ok; otherwise words a clerk can act on
  std::map<std::string, DataSet> dataSets;  // "TROOPFORM" and "OFFICER" when ok

  friend bool operator==(const Reply&, const Reply&) = default;
};

// An administrator's withdrawal of forms from the inventory (POST /v1/withdrawals): the
// numbers from..to of one form type, and why they leave.
struct WithdrawalRequest {
  std::string requestId;  // names the withdrawal in the chain of custody
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string reason;

  friend bool operator==(const WithdrawalRequest&, const WithdrawalRequest&) = default;
};

}  // namespace fm::protocol
