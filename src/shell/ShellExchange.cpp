#include "shell/ShellExchange.h"

#include <fmt/format.h>

#include <atomic>

#include "base/Text.h"
#include "platform/DataSet.h"
#include "platform/PlatformError.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "transport/RecordsetWire.h"

namespace fm::shell {

namespace {
// The application id criteria carry, as the document's.
constexpr const char* kApplicationId = "QUILLMAR";
}  // namespace

ShellExchange::ShellExchange(const std::string& name) {
  static std::atomic<int> counter{0};
  mIdentity = fmt::format("{}#{}", name, ++counter);
  mComponent = MessageComponent::Obtain();
  mComponent->AddListener(this);
}

ShellExchange::~ShellExchange() {
  mComponent->RemoveListener(this);
  Services::Replies()->Forget(mIdentity);
}

void ShellExchange::Send(int messageType,
                         const std::vector<std::pair<std::string, std::string>>& criteria,
                         const std::vector<std::string>& dataSets, Answer answer,
                         std::shared_ptr<DataSet> rows, const char* rowsName) {
  auto request = mComponent->CreateRequest();
  request->SetIdentity(mIdentity);
  request->SetVersion("1.0");
  request->SetRequesterValue(Services::Settings().RequesterValue());
  request->SetMessageType(static_cast<std::int16_t>(messageType));
  if (rows) request->AttachDataSet(std::move(rows), rowsName);
  for (const auto& [key, value] : criteria) {
    request->AddCriterion("key:" + key, value, "=", kApplicationId);
  }
  mRequestId = request->RequestId();
  mDataSets = dataSets;
  mAnswer = std::move(answer);
  try {
    request->Send();
  } catch (const PlatformError& error) {
    Answer failed = std::move(mAnswer);
    mAnswer = nullptr;
    failed(error.Description(), {});
  }
}

void ShellExchange::OnDataReady(const std::string& target) {
  if (!mAnswer || text::ToUpper(target) != text::ToUpper(mIdentity)) return;
  auto replies = Services::Replies();
  // A reply to a request this one replaced: not read.
  if (!replies->HasReply(mIdentity, mRequestId)) return;
  std::string error = replies->Error(mIdentity, mRequestId);
  DataSets sets;
  try {
    for (const auto& name : mDataSets) {
      if (auto set = replies->Get(name, mIdentity, mRequestId)) {
        sets.emplace(name, ToWireDataSet(set->GetRecordset()));
      }
    }
  } catch (const PlatformError& e) {
    // A refusal is said as it came; only an accepted reply's unreadable data is the error.
    if (error.empty()) error = e.Description();
    sets.clear();
  }
  replies->Forget(mIdentity);
  Answer answer = std::move(mAnswer);
  mAnswer = nullptr;
  answer(error, sets);
}

}  // namespace fm::shell
