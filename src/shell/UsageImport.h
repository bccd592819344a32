#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Usage.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// An import file read for sending: its name as the server records it (the file's own name,
// without its folder) and its bytes.
struct ImportFile {
  std::string name;
  std::string text;
};

// Reads the import file at `path` a block at a time into `file`, refusing one larger than
// `limit` bytes (before reading, and again should it grow meanwhile) and one that is not
// UTF-8 text, which the server's JSON would carry with its bad bytes replaced. Answers
// what is wrong, in a sentence naming the file and saying that nothing was sent; empty
// when the file is fit to send. `onServer` is the command that imports a larger file.
std::string ReadImportFile(const std::filesystem::path& path, std::uintmax_t limit,
                           ImportFile& file,
                           const char* onServer = "formsmaint-server usage import");

// Sends message type 37 carrying `uses` (kUseFileDataSet or kUseRowDataSet, named `name`)
// from `source`, with the preview flag, and answers what recording did; with no such answer
// (refused whole, not carried), the error alone. The batch refused for its bad lines comes
// with its outcome listing them.
using UsageAnswer = std::function<void(const std::string& error,
                                       const std::optional<protocol::UsageOutcome>& outcome)>;
void SendUses(ShellExchange& exchange, protocol::DataSet uses, const char* name,
              const std::string& source, bool preview, UsageAnswer answer);

// File > Import Form Usage... without its window: the uses of form numbers in a CSV file
// (docs/usage.md has the layout), sent to the forms server in message type 37 first as a
// preview, which stores nothing and answers what the import would do (lines to record,
// already recorded, conflicts, bad lines with their numbers and what is wrong), then, when
// the clerk agrees, the same batch for good. A file with bad lines can only be cancelled;
// a file imported before changes nothing and says so.
//
// `changed` runs after every change the window shows (Change::Outcome: a new answer);
// `recorded` after uses were stored, so that the shell can show the counts that follow.
class UsageImport {
 public:
  enum class Change { Status, Outcome };
  using Changed = std::function<void(Change)>;

  struct Options {
    // The largest file the desktop sends, in bytes: the file travels whole in one request,
    // and over HTTP a server takes at most its --body-limit (8 MiB by default) of it written
    // as JSON. Larger files are imported on the server (formsmaint-server usage import).
    std::uintmax_t fileLimit = std::uintmax_t{6} * 1024 * 1024;
  };

  static constexpr const char* kTitle = "Import Form Usage";
  static constexpr std::size_t kColumnCount = 3;
  using Row = std::array<std::string, kColumnCount>;  // line, what, message
  static const std::array<const char*, kColumnCount> kColumns;

  UsageImport(Changed changed, std::function<void()> recorded, Options options);
  UsageImport(Changed changed, std::function<void()> recorded)
      : UsageImport(std::move(changed), std::move(recorded), Options()) {}
  ~UsageImport();

  // Reads the file and asks for the preview of its import from `source` (where the uses
  // come from, in words; required). A file that cannot be sent or a source missing is said
  // in the status line and nothing is sent.
  void Preview(const std::filesystem::path& path, const std::string& source);
  // Whether the preview answered allows the import: no bad line, not a file imported before,
  // and something to store (a use or a conflict kept apart).
  bool CanImport() const;
  // Sends the previewed batch for good; nothing unless CanImport().
  void Import();
  // Forgets the file and its preview.
  void Cancel();
  bool Waiting() const;

  // Whether an answer was had since the last file was chosen, and whether it was the import.
  bool HasOutcome() const { return mHasOutcome; }
  bool Imported() const { return mHasOutcome && !mOutcome.preview; }
  const protocol::UsageOutcome& Outcome() const { return mOutcome; }
  // What the answer means, in a sentence or two.
  std::string Summary() const;
  // The bad lines, then the conflicts, by line.
  std::vector<Row> Rows() const;
  const StatusLine& Status() const { return mStatus; }

 private:
  void Say(std::string text, bool problem);
  void Send(bool preview);

  Changed mChanged;
  std::function<void()> mRecorded;
  Options mOptions;
  std::unique_ptr<ShellExchange> mExchange;
  ImportFile mFile;
  std::string mSource;
  protocol::UsageOutcome mOutcome;
  bool mHasOutcome = false;
  StatusLine mStatus;
};

}  // namespace fm::shell
