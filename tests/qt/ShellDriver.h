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
class DataGrid;
class TARVO_FormsMaint;
}  // namespace fm

namespace fm::qt {
class DesktopSession;
class FormView;
class GridView;
class ShellWindow;
}  // namespace fm::qt

namespace fm::testing {

// Keys, clicks and reads on any view, a dialog's too.
// The widget of a control by its name ("txtBox(0)").
QWidget& WidgetOf(const qt::FormView& view, const char* name);
// Types into a box; `replace` first selects what it holds, as a clerk would before typing
// over it.
void TypeInto(QWidget& box, const std::string& keys, bool replace = false);
// Clicks a row of a grid view in its first visible column, scrolled into sight first.
void ClickRow(qt::GridView& view, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// A row's stored field, blanks trimmed; a cell as the view shows it.
std::string Stored(const DataGrid& grid, int row, const char* key);
std::string Shown(const qt::GridView& view, int row, const char* key);

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
  // Destroys the window and the session; `boxes` keeps what was said until then.
  void Shutdown();

  qt::DesktopSession& Session() const { return *mSession; }
  qt::ShellWindow& Window() const { return *mWindow; }
  TARVO_FormsMaint& Document() const;
  // The widget of a control by its name ("txtBox(0)").
  QWidget& W(const char* name) const;
  qt::GridView& Grid(const char* name) const;
  QString Status() const;

  void Type(const char* box, const std::string& keys, bool replace = false);
  void Click(const char* name);

  // Down the form-type list to the entry, with the keyboard.
  void ChooseFormType(const QString& description);
  // Clicks Search, which says at once that it is requesting, and waits for the reply.
  void SearchAndWait(std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Types the Troop/District over what the box holds, chooses the form type and searches;
  // the status must then be back at "Ready".
  void SearchRanges(const char* troopDistrict, const QString& formType = "ENF001 Citation");
  // Waits until the status leaves `busy` and the ranges grid's view shows the reply; the
  // status must then be back at "Ready".
  void WaitForReply(const QString& busy,
                    std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Enters one new range in New Forms and adds it (Add Forms).
  void AddRange(const char* troopDistrict, const QString& formType, const char* from,
                const char* to);

  MessageBoxScript boxes;

 private:
  void WaitForGrid(const QString& busy, std::chrono::milliseconds limit);

  Options mOptions;
  std::unique_ptr<qt::DesktopSession> mSession;
  std::unique_ptr<qt::ShellWindow> mWindow;
};

}  // namespace fm::testing
