#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageComponent.h"
#include "protocol/Messages.h"

namespace fm {
class DataSet;
}

namespace fm::shell {

// A window of the host shell talking to the forms server the way the document does: through
// the process's message component, with an identity of its own ("FormHistory#1"), so that
// its requests work with the embedded inventory and with a server alike, and its replies
// never reach the document (nor the document's its).
//
// One request at a time: a request sent while another waits replaces it, and the older
// reply is dropped when it comes. The answer comes once, on the user-interface thread:
// the reply's error text (empty when the server accepted the request; a refusal, a failure
// to carry it, a time-out otherwise) and the data sets asked for that the reply holds (a
// refusal's too: a batch of uses refused for its bad lines lists them). The reply is then
// forgotten by the reply store.
//
// Create and use on the user-interface thread, after the message transport is installed.
class ShellExchange final : private MessageListener {
 public:
  using DataSets = std::map<std::string, protocol::DataSet>;
  using Answer = std::function<void(const std::string& error, const DataSets& dataSets)>;

  // `name` starts the identity, which a number unique in the process completes.
  explicit ShellExchange(const std::string& name);
  ~ShellExchange() override;
  ShellExchange(const ShellExchange&) = delete;
  ShellExchange& operator=(const ShellExchange&) = delete;

  // Sends a request of `messageType` with the criteria (each "key:NAME", "=") and, when
  // given, `rows` attached as `rowsName`; `dataSets` names the data sets of the reply to
  // hand to `answer`. A request the component refuses to send (a data set that cannot
  // travel) is answered at once with the reason.
  void Send(int messageType, const std::vector<std::pair<std::string, std::string>>& criteria,
            const std::vector<std::string>& dataSets, Answer answer,
            std::shared_ptr<DataSet> rows = nullptr,
            const char* rowsName = protocol::kTroopFormDataSet);

  bool Waiting() const { return static_cast<bool>(mAnswer); }
  const std::string& Identity() const { return mIdentity; }

 private:
  void OnDataReady(const std::string& target) override;
  void OnMsgTimeout(long /*value*/) override {}

  std::shared_ptr<MessageComponent> mComponent;
  std::string mIdentity;
  std::string mRequestId;
  std::vector<std::string> mDataSets;
  Answer mAnswer;
};

}  // namespace fm::shell
