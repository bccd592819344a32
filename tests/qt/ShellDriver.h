#pragma once

#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "QtTestSupport.h"
#include "platform/MessageComponent.h"

class QWidget;

namespace fm {
class TARVO_FormsMaint;
}

namespace fm::qt {
class DesktopSession;
class GridView;
class ShellWindow;
}  // namespace fm::qt

namespace fm::testing {

// The desktop as a clerk drives it, for tests and test programs: a desktop session on the
// demo data of a folder, the shell window with the document, and keys and clicks on the
// widgets of the document's controls. Failures to find a widget or to get a reply throw
// std::runtime_error, so that a program without GoogleTest can use it too.
class ShellDriver {
 public:
  struct Options {
    // Where the local database and the embedded inventory live (created on first use).
    std::filesystem::path dataFolder;
    // Empty: the embedded inventory of the folder.
    MessageComponent::Factory messages;
    // Where the shell keeps new ranges not yet saved; empty: nowhere.
    std::filesystem::path draftFile;
  };

  explicit ShellDriver(Options options);
  ~ShellDriver();
  ShellDriver(const ShellDriver&) = delete;
  ShellDriver& operator=(const ShellDriver&) = delete;

  // Opens the document, shows the window and waits until it is active.
  void Open();

  qt::DesktopSession& Session() const { return *mSession; }
  qt::ShellWindow& Window() const { return *mWindow; }
  TARVO_FormsMaint& Document() const;
  // The widget of a control by its name ("txtBox(0)").
  QWidget& W(const char* name) const;
  qt::GridView& Grid(const char* name) const;
  QString Status() const;

  void Type(const char* box, const char* keys);
  void Click(const char* name);
  // Down the form-type list to the entry, with the keyboard.
  void ChooseFormType(const QString& description);
  // Clicks Search and waits for the reply to be shown.
  void SearchAndWait(std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Enters one new range in New Forms and adds it (Add Forms).
  void AddRange(const char* troopDistrict, const QString& formType, const char* from,
                const char* to);

  MessageBoxScript boxes;

 private:
  Options mOptions;
  std::unique_ptr<qt::DesktopSession> mSession;
  std::unique_ptr<qt::ShellWindow> mWindow;
};

}  // namespace fm::testing
