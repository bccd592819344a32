#include "shell/SaveOverride.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/MessageComponent.h"
#include "protocol/Messages.h"

namespace fm::shell {

void SaveOverride::Offer(std::string identity, std::string refusal) {
  mIdentity = std::move(identity);
  mRefusal = std::move(refusal);
}

void SaveOverride::ExchangeEnded(const std::string& identity) {
  if (text::EqualsNoCase(identity, mIdentity)) {
    mIdentity.clear();
    mRefusal.clear();
  }
}

std::string SaveOverride::ReasonProblem(const std::string& reason) {
  const std::string trimmed = text::Trim(reason);
  if (trimmed.empty()) return "Say why the limit does not hold for this save.";
  if (trimmed.size() > protocol::kMaxOverrideReasonLength) {
    return fmt::format("The reason is at most {} characters; this one has {}.",
                       protocol::kMaxOverrideReasonLength, trimmed.size());
  }
  return {};
}

std::string SaveOverride::Send(const std::string& reason) {
  if (auto problem = ReasonProblem(reason); !problem.empty()) return problem;
  if (!Offered()) return "There is no refused save to override.";
  const std::string identity = mIdentity;
  mIdentity.clear();
  mRefusal.clear();
  if (!MessageComponent::Obtain()->ResendWithOverride(identity, text::Trim(reason))) {
    return "The refused save can no longer be sent again: the screen has sent another request "
           "since. Repeat the change and save it.";
  }
  return {};
}

}  // namespace fm::shell
