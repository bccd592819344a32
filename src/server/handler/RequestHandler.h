#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "protocol/Custody.h"
#include "protocol/Messages.h"
#include "protocol/Receipt.h"
#include "protocol/Stock.h"
#include "protocol/Usage.h"
#include "server/handler/Principal.h"
#include "server/store/AllotmentTypes.h"
#include "server/store/CountTypes.h"
#include "server/store/UseTypes.h"

namespace fm::server {

class Store;
struct ReportParameters;
struct ReconcileParameters;
struct StockParameters;
struct StockMinimumParameters;
struct AllotmentCapParameters;
struct ReissueRuleParameters;
struct CountOpenParameters;
struct CountEntryParameters;
struct CountSettleParameters;
struct CountView;

// What the handler answers: the reply, and whether it refuses the principal (a role that
// may not save, a station outside its scope). The HTTP front answers a refusal with 403
// rather than with the reply.
struct HandledRequest {
  protocol::Reply reply;
  bool forbidden = false;
};

// What HandleToJson answers beside the reply's text: whether the principal is refused, and
// then why (the reply's error).
struct StreamedReply {
  bool forbidden = false;
  std::string error;
};

struct RequestHandlerOptions {
  // Largest number of ranges a search answers; a search that finds more is refused with a
  // message asking for a narrower selection.
  std::size_t maxRanges = 20000;
  // Answers today's date as "YYYY-MM-DD" (local time): the officers of a station are those
  // on duty today. Empty: the system clock.
  std::function<std::string()> today;
  // What a batch of uses may hold (type 37, POST /v1/usage, usage import).
  UsageLimits usage;
  // A reconciliation reads the uses of the numbers held, then its officers' other uses,
  // leaving the held spans out in SQL: one more condition on every row scanned for each span.
  // Past this many spans the officers' uses of held numbers are read again and dropped in
  // memory instead. Either way the answer is the same.
  std::size_t maxExcludedSpans = 64;
  // A station is due a physical count this many days after its last certified one
  // (docs/counts.md); the stock report says when one is overdue. --count-due-days.
  int countDueDays = 90;
  // The most lines (numbers or spans) one entry or import of counted numbers may hold.
  std::size_t maxCountLines = 100000;
};

// Answers the screen's requests over a store:
//   33 search: the criteria select ranges ("TROOPFORM") and officers ("OFFICER");
//   34 save with requery: the "TROOPFORM" change rows are applied (server/store/Store.h), then the
//      criteria are searched as for 33. A save the store refuses (a broken rule, a stale
//      version, a lost race) is answered ok = false with the refusal as the error and, when
//      the search succeeds, the refreshed "TROOPFORM" and "OFFICER" all the same, so the
//      client can show what the inventory holds now.
//   35 form history: the chain of custody of the form of key:REF_TYP_CD and
//      key:FORM_SEARCH_NBR, in words ("HISTORY", oldest first), and who holds it now
//      ("HOLDER"); protocol/Custody.h has the layouts.
//   36 accountability report: key:TRP_ID (with key:TRP_DIST_ID one Troop/District, without
//      it the whole troop) and/or key:ASGND_REG_NBR (an officer), key:REF_TYP_CD (one form
//      type; none: all), key:FROM_DT and key:TO_DT (the days, "YYYY-MM-DD"; neither: the
//      last calendar month); answered as "ACCTPARM", "ACCTLINE" and "ACCTSPAN".
//   Both take "=" only, change nothing and need a role that may read the history (viewer
//   and up).
//   37 record uses (docs/usage.md): the import file whole in "USEFILE" (FILE_NAME, FILE_TEXT)
//      or a person's uses in "USEROW", with key:SOURCE (required), key:PREVIEW ("Y": store
//      nothing) and, for an admin's correction of one use, key:SUPERSEDES and key:REASON;
//      answered as "USAGE" and "USEPROB" (a correction as "FORMUSE"), ok = false when lines
//      are bad (nothing is stored then). A clerk records within its stations, an admin
//      anywhere; a viewer is refused.
//   39 stock on hand (docs/stock.md): key:TRP_ID, key:TRP_DIST_ID, key:REF_TYP_CD and
//      key:WEEK_CNT, all optional; answered as "STKPARM", "STKLINE", "STKWEEK" and "STKALRT"
//      (protocol/Stock.h), the stations seen as Stock says. Viewer and up.
//   40 set a minimum stock: key:TRP_ID, key:TRP_DIST_ID, key:REF_TYP_CD and key:MINIMUM_QTY
//      (0 removes it), with a request id; answered as "STKMIN". A clerk of the station or an
//      admin; a viewer is refused.
//   42-47 physical counts (protocol/Count.h has the keys and data sets): list, show, open,
//      enter, certify and settle, each answered through the count methods below, so a
//      message is refused exactly where the command line and /v1/counts are.
// Who acts is the principal the caller authenticated (the owner of the request's token, or
// the workstation's user for the embedded inventory): its id and name go into the change
// stamps and the chain of custody. The request's own user_id is only what the client claims;
// it is recorded beside them and never replaces them. A save needs a role that may save
// (Action::Save), and every range it touches must lie within the principal's station scope;
// otherwise nothing is applied and the answer is forbidden, ok = false, with the reason.
// Criteria keys (each "key:" + name): TRP_ID, TRP_DIST_ID, REF_TYP_CD (form type),
// ASGND_REG_NBR and TRP_ACTN_CD compare with = <> < <= > >=; FORM_SEARCH_NBR (ranges holding
// that number), INACTIVE ("Y": status other than "A"; "N": no condition) and THIN ("YES" or
// "NO") take "=" only. docs/server-store.md describes what a thin reply leaves out.
//
// Every answer, including those of Accountability and History, reads the store from one
// snapshot (Store::ReadTogether): a report, a history with its holder, a search with its
// officers show the inventory of one moment while saves go on.
//
// Thread safety: Handle may be called from many threads at once. Handle never throws: any
// failure becomes a reply with ok = false and a text a clerk can read; details of internal
// failures go to the log.
class RequestHandler {
 public:
  explicit RequestHandler(std::shared_ptr<Store> store, RequestHandlerOptions options = {});
  ~RequestHandler();
  RequestHandler(const RequestHandler&) = delete;
  RequestHandler& operator=(const RequestHandler&) = delete;

  HandledRequest Handle(const protocol::Request& request, const Principal& principal);

  // As Handle, with the reply written as JSON into `json` (protocol/Json.h; the same text
  // ReplyToJson gives for Handle's reply). `json` is cleared first and keeps its capacity,
  // so a caller answering many requests reuses one buffer; the ranges go from the store's
  // cursor into it one at a time, the reply is never held as data sets.
  StreamedReply HandleToJson(const protocol::Request& request, const Principal& principal,
                             std::string& json);
  // The accountability report the parameters ask for (server/handler/ReportRequest.h), computed
  // from the store's history as of the period's start and end. The HTTP front and the
  // command line ask it directly. Throws RequestError for parameters to correct, StoreError
  // when the store fails.
  protocol::AccountabilityReport Accountability(const ReportParameters& parameters);
  // The history of one form in words, and who holds it now; its summary says how the form
  // was used, and `uses` (when given) receives every use record of it, superseded ones
  // included, read in the same snapshot. Throws RequestError for an unknown form type,
  // StoreError when the store fails.
  protocol::FormHistory History(const std::string& formType, std::int64_t number,
                                std::vector<protocol::FormUse>* uses = nullptr,
                                std::vector<CountOfForm>* counts = nullptr);

  // Uses of form numbers (RequestHandlerUsage.cpp). The rules a batch is checked by: today and
  // options.usage.
  UseRules UsageRules() const;
  // Records `batch` for `principal`, who must be a clerk (its uses within its stations) or an
  // admin. Throws StoreError (Forbidden for a role that may not), and RequestError as the
  // batch's lines do.
  protocol::UsageOutcome RecordUses(const UseBatch& batch, const Principal& principal,
                                    const std::string& requestId, const std::string& requester);
  // An admin's correction of a standing use (Store::CorrectUse).
  protocol::FormUse CorrectUse(std::int64_t supersededId, const protocol::ReportedUse& use,
                               const std::string& reason, const Principal& principal,
                               const std::string& requestId, const std::string& requester);

  // The reconciliation the parameters ask for (server/handler/ReportRequest.h, docs/usage.md): the
  // scope's holdings at the end of the day asked for against the uses of their numbers and
  // the uses recorded for its officers. Throws RequestError for parameters to correct,
  // StoreError when the store fails.
  protocol::Reconciliation Reconcile(const ReconcileParameters& parameters);

  // Hand receipts (RequestHandlerReceipt.cpp, docs/receipts.md): receipt `number` for any
  // principal who may read reports; with `print`, a print of it counted first (the answer then
  // says whether this print is a copy). None for no such receipt. Throws StoreError
  // (Forbidden for a role that may not read reports).
  std::optional<protocol::HandReceipt> Receipt(std::int64_t number, bool print,
                                               const Principal& principal,
                                               const std::string& requestId,
                                               const std::string& requester);
  // Stock on hand (RequestHandlerStock.cpp, docs/stock.md): per station of the parameters and
  // form type what it holds, its minimum, its use per week over the weeks ending today and
  // the weeks of supply, with the stations' open alerts; all read from one snapshot. A
  // principal sees the stations of its scope (an admin every one): a station asked for
  // outside it throws StoreError::Forbidden, and without one the report lists those it
  // covers. Throws RequestError for parameters to correct.
  protocol::StockReport Stock(const StockParameters& parameters, const Principal& principal);
  // Sets a minimum for a clerk of the station or an admin (Store::SetStockMinimum); a role
  // that may not save is refused (StoreError::Forbidden).
  protocol::StockMinimumSet SetStockMinimum(const StockMinimumParameters& parameters,
                                            const Principal& principal,
                                            const std::string& requestId,
                                            const std::string& requester);
  // The open alerts (all: every one kept) of the stations the principal sees, newest first.
  std::vector<protocol::StockAlertLine> StockAlerts(bool all, const Principal& principal);

  // Allotment limits (RequestHandlerAllotment.cpp, docs/allotment.md): the caps and the
  // stations whose reissue rule is on, of the stations the principal sees (a role that may not
  // read reports is refused, StoreError::Forbidden); set by an administrator only (Forbidden
  // for any other role). Throws RequestError for parameters to correct.
  std::vector<AllotmentCap> AllotmentCaps(const Principal& principal);
  AllotmentCap SetAllotmentCap(const AllotmentCapParameters& parameters, const Principal& principal,
                               const std::string& requestId, const std::string& requester);
  std::vector<ReissueRule> ReissueRules(const Principal& principal);
  ReissueRule SetReissueRule(const ReissueRuleParameters& parameters, const Principal& principal,
                             const std::string& requestId, const std::string& requester);

  // Physical counts (RequestHandlerCount.cpp, docs/counts.md). An auditor opens, enters and
  // certifies the counts of its stations; a clerk (who holds custody at its stations), an
  // admin or a viewer is refused, StoreError::Forbidden. An admin settles what a certified
  // count found missing. Whoever reads reports reads the counts of the stations it sees.
  // Throws RequestError for parameters to correct, StoreError as the store does.
  PhysicalCount OpenCount(const CountOpenParameters& parameters, const Principal& principal,
                          const std::string& requestId, const std::string& requester);
  PhysicalCount AddCounted(std::int64_t number, const std::vector<CountEntryParameters>& entries,
                           const Principal& principal, const std::string& requestId,
                           const std::string& requester);
  // The counted numbers of an imported text (ReadCountedText), added as AddCounted adds.
  PhysicalCount ImportCounted(std::int64_t number, const std::string& text,
                              const Principal& principal, const std::string& requestId,
                              const std::string& requester);
  PhysicalCount CertifyCount(std::int64_t number, const std::string& statement,
                             const Principal& principal, const std::string& requestId,
                             const std::string& requester);
  CountSettlement SettleCount(std::int64_t number, const CountSettleParameters& parameters,
                              const Principal& principal, const std::string& requestId,
                              const std::string& requester);
  // None for no such count.
  std::optional<CountView> Count(std::int64_t number, const Principal& principal);
  std::vector<CountSummary> Counts(const Principal& principal);

  Store& GetStore() const { return *mStore; }

 private:
  template <typename Search>
  HandledRequest Run(const protocol::Request& request, const Principal& principal, Search&& search);
  protocol::Reply AnswerCustody(const protocol::Request& request);
  protocol::Reply AnswerUsage(const protocol::Request& request, const Principal& principal);
  protocol::Reply AnswerReceipt(const protocol::Request& request, const Principal& principal);
  protocol::Reply AnswerStock(const protocol::Request& request, const Principal& principal);
  protocol::Reply AnswerCount(const protocol::Request& request, const Principal& principal);
  std::string Today() const;

  std::shared_ptr<Store> mStore;  // constant after construction
  RequestHandlerOptions mOptions;
};

}  // namespace fm::server
