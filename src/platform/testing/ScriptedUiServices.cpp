#include "platform/testing/ScriptedUiServices.h"

namespace fm::testing {

MsgBoxResult ScriptedUiServices::MessageBox(const std::string& text, MsgBoxButtons buttons,
                                            MsgBoxIcon icon, const std::string& title) {
  messages.push_back({text, buttons, icon, title});
  if (!mAnswers.empty()) {
    const MsgBoxResult answer = mAnswers.front();
    mAnswers.pop_front();
    return answer;
  }
  // What closing an unscripted box would give: OK when that is the only button, Cancel
  // (the window's close button) otherwise.
  return buttons == MsgBoxButtons::Ok ? MsgBoxResult::Ok : MsgBoxResult::Cancel;
}

void ScriptedUiServices::SetMousePointer(MousePointer pointer) {
  mPointer = pointer;
  pointerHistory.push_back(pointer);
}

void ScriptedUiServices::ShowModal(UiElement& form) {
  ++modalShows;
  if (!mModalHandlers.empty()) {
    // Taken off the queue before it runs: the handler may itself show a modal form, which
    // must get the next handler, not this one again.
    ModalHandler handler = std::move(mModalHandlers.front());
    mModalHandlers.pop_front();
    if (handler) handler(form);
    return;
  }
  if (mDefaultModal) mDefaultModal(form);
}

}  // namespace fm::testing
