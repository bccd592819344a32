#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace fm {
class Recordset;
}

namespace fm::shell {

// The file that keeps the new ranges not yet saved, so that they outlive a desktop that
// dies: a small JSON text with the rows' fields by name.
//
//   {"draft": "formsmaint new forms", "version": 1, "saved": "2026-12-06T14:03:22",
//    "rows": [{"TRP_ID": "A", "FRM_FORM_NBR": 9990001, ...}, ...]}
//
// Keep writes atomically (a temporary file renamed over the draft), so a crash while
// writing leaves the draft as it was before. Errors throw PlatformError with a reason a
// clerk can pass on; nothing is changed then.
class DraftFile {
 public:
  explicit DraftFile(std::filesystem::path path) : mPath(std::move(path)) {}

  const std::filesystem::path& Path() const { return mPath; }
  bool Exists() const;

  // The rows as the draft's text (without the time it was saved, which Keep adds).
  static std::string RowsText(const Recordset& rows);
  // Writes the rows; with no rows the draft is removed.
  void Keep(const Recordset& rows, std::chrono::system_clock::time_point when) const;
  // The rows kept, in a new record set of the new-forms layout ("TROOPFORM"); nullptr when
  // there is no draft. A draft that cannot be read, is of another kind or version, or has a
  // value that does not fit its field throws PlatformError saying what and where.
  std::shared_ptr<Recordset> Read() const;
  // Moves an unreadable draft out of the way, beside it; answers the name it now has.
  std::filesystem::path SetAside(std::chrono::system_clock::time_point when) const;
  void Remove() const;

 private:
  std::filesystem::path mPath;
};

}  // namespace fm::shell
