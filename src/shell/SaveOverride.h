#pragma once

#include <string>

namespace fm::shell {

// The offer to save again what the forms server refused over an allotment cap or a
// station's reissue rule, with an override and a reason (docs/allotment.md), without its
// window. The refusal itself is the screen's to show, as every refused save is; the shell
// offers the override beside it, for the document's latest save only, and withdraws the offer
// when the document sends anything else.
class SaveOverride {
 public:
  // A save of `identity` refused as overridable, with the server's words.
  void Offer(std::string identity, std::string refusal);
  // Another exchange of `identity` ended: the refusal is no longer the document's latest.
  void ExchangeEnded(const std::string& identity);

  bool Offered() const { return !mIdentity.empty(); }
  const std::string& Refusal() const { return mRefusal; }

  // What is wrong with `reason` for an override ("" when it will do): none given, or one
  // longer than the server keeps.
  static std::string ReasonProblem(const std::string& reason);
  // Sends the refused save again through the process's message component with the reason;
  // the offer ends. Answers what to tell the clerk when it could not be sent ("" when sent).
  std::string Send(const std::string& reason);

 private:
  std::string mIdentity;
  std::string mRefusal;
};

}  // namespace fm::shell
