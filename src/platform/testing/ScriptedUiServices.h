#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/UiServices.h"

namespace fm::testing {

// A user interface driven by a script: message boxes take their answers from a queue
// (an unscripted box answers Ok for an OK box and Cancel otherwise) and are recorded;
// a modal show runs the next queued callback with the form (or the default handler).
class ScriptedUiServices final : public UiServices {
 public:
  struct ShownMessage {
    std::string text;
    MsgBoxButtons buttons;
    MsgBoxIcon icon;
    std::string title;
  };
  using ModalHandler = std::function<void(UiElement& form)>;

  MsgBoxResult MessageBox(const std::string& text, MsgBoxButtons buttons, MsgBoxIcon icon,
                          const std::string& title) override;
  void Beep() override { ++beeps; }
  void SetMousePointer(MousePointer pointer) override;
  MousePointer GetMousePointer() const override { return mPointer; }
  void ShowModal(UiElement& form) override;

  void QueueAnswer(MsgBoxResult answer) { mAnswers.push_back(answer); }
  void QueueModal(ModalHandler handler) { mModalHandlers.push_back(std::move(handler)); }
  void SetDefaultModal(ModalHandler handler) { mDefaultModal = std::move(handler); }

  std::vector<ShownMessage> messages;
  std::vector<MousePointer> pointerHistory;
  int beeps = 0;
  int modalShows = 0;

 private:
  std::deque<MsgBoxResult> mAnswers;
  std::deque<ModalHandler> mModalHandlers;
  ModalHandler mDefaultModal;
  MousePointer mPointer = MousePointer::Default;
};

}  // namespace fm::testing
