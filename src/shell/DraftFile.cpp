#include "shell/DraftFile.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/DataSetTemplates.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Value.h"

namespace fm::shell {

namespace {

constexpr const char* kKind = "formsmaint new forms";
constexpr int kVersion = 1;
// No draft a clerk makes comes near this; a bigger file is not one of ours.
constexpr std::uintmax_t kLargestDraft = std::uintmax_t{16} * 1024 * 1024;

using Json = nlohmann::json;

Json RowsJson(const Recordset& rows) {
  Json list = Json::array();
  const auto& fields = rows.Fields();
  for (long i = 0; i < rows.RecordCount(); ++i) {
    Json row = Json::object();
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const Value& value = rows.ValueAt(i, static_cast<int>(f));
      if (value.IsNull()) {
        row[fields[f].name] = nullptr;
      } else if (value.IsInteger()) {
        row[fields[f].name] = value.AsInteger();
      } else {
        row[fields[f].name] = value.ToText();
      }
    }
    list.push_back(std::move(row));
  }
  return list;
}

std::string LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t time = std::chrono::system_clock::to_time_t(when);
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}", fmt::localtime(time));
}

[[noreturn]] void Unreadable(const std::filesystem::path& path, const std::string& why) {
  throw PlatformError(PlatformError::kGeneric,
                      fmt::format("The draft {} cannot be read: {}", path.string(), why));
}

}  // namespace

bool DraftFile::Exists() const {
  std::error_code ignored;
  return std::filesystem::exists(mPath, ignored);
}

std::string DraftFile::RowsText(const Recordset& rows) { return RowsJson(rows).dump(); }

void DraftFile::Keep(const Recordset& rows, std::chrono::system_clock::time_point when) const {
  if (rows.RecordCount() == 0) {
    Remove();
    return;
  }
  const Json draft = {{"draft", kKind},
                      {"version", kVersion},
                      {"saved", LocalTime(when)},
                      {"rows", RowsJson(rows)}};
  WriteFileAtomically(mPath, draft.dump(1) + "\n");
}

std::shared_ptr<Recordset> DraftFile::Read() const {
  std::error_code error;
  if (!std::filesystem::exists(mPath, error)) return nullptr;
  const std::uintmax_t size = std::filesystem::file_size(mPath, error);
  if (error) Unreadable(mPath, error.message());
  if (size > kLargestDraft) Unreadable(mPath, fmt::format("it is too large ({} bytes)", size));
  std::ifstream in(mPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) Unreadable(mPath, "the file could not be opened");

  Json draft;
  try {
    draft = Json::parse(text.str(), nullptr, true, false);
  } catch (const Json::exception& e) {
    Unreadable(mPath, fmt::format("it is not a draft of new forms ({})", e.what()));
  }
  if (!draft.is_object() || !draft.contains("draft") || draft["draft"] != kKind) {
    Unreadable(mPath, "it is not a draft of new forms");
  }
  if (!draft.contains("version") || draft["version"] != kVersion) {
    Unreadable(mPath, "it was written by another version of the program");
  }
  if (!draft.contains("rows") || !draft["rows"].is_array()) {
    Unreadable(mPath, "it holds no list of rows");
  }

  auto rows = std::make_shared<Recordset>(*TemplateFields(kTroopFormTemplate));
  int number = 0;
  for (const Json& row : draft["rows"]) {
    ++number;
    if (!row.is_object()) Unreadable(mPath, fmt::format("row {} is not a row", number));
    rows->AddNew();
    for (const auto& [name, value] : row.items()) {
      if (rows->FindField(name) < 0) {
        Unreadable(mPath,
                   fmt::format("row {} has a field {} that new forms do not have", number, name));
      }
      try {
        if (value.is_null()) {
          rows->SetValue(name, Value::Null());
        } else if (value.is_number_integer()) {
          rows->SetValue(name, Value(value.get<std::int64_t>()));
        } else if (value.is_string()) {
          rows->SetValue(name, Value(value.get<std::string>()));
        } else {
          Unreadable(mPath,
                     fmt::format("row {}, field {}: not a text or a whole number", number, name));
        }
      } catch (const PlatformError& e) {
        Unreadable(mPath, fmt::format("row {}, field {}: {}", number, name, e.Description()));
      }
    }
    rows->Update();
  }
  rows->MoveFirst();
  return rows;
}

std::filesystem::path DraftFile::SetAside(std::chrono::system_clock::time_point when) const {
  const std::time_t time = std::chrono::system_clock::to_time_t(when);
  std::filesystem::path aside = mPath;
  aside += fmt::format(".unreadable-{:%Y%m%d-%H%M%S}", fmt::localtime(time));
  std::error_code error;
  std::filesystem::rename(mPath, aside, error);
  if (error) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("The draft {} could not be set aside: {}", mPath.string(), error.message()));
  }
  return aside;
}

void DraftFile::Remove() const {
  std::error_code error;
  std::filesystem::remove(mPath, error);
  if (error) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("The draft {} could not be removed: {}", mPath.string(), error.message()));
  }
}

}  // namespace fm::shell
