#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace fm {

// The installation's settings. Each value is taken from, in this order of precedence:
// the command line, an environment variable, the settings file, the built-in default.
//
//   key              environment variable            default
//   region           FORMSMAINT_REGION               NORTH
//   requester        FORMSMAINT_REQUESTER            FORMSMAINT
//   user_id          FORMSMAINT_USER_ID              1001
//   switch.NAME      FORMSMAINT_SWITCH_NAME          (no)   e.g. switch.VoidManualForms = yes
//   local_db         FORMSMAINT_LOCAL_DB             <data dir>/local.db
//   inventory_db     FORMSMAINT_INVENTORY_DB         <data dir>/inventory.db
//   server           FORMSMAINT_SERVER               (empty: the embedded inventory)
//   token            FORMSMAINT_TOKEN                (empty)   the access token itself
//   token_file       FORMSMAINT_TOKEN_FILE           (empty)   or a file holding it
//   ca_file          FORMSMAINT_CA_FILE              (empty: the system's trust store only)
//   timeout_seconds  FORMSMAINT_TIMEOUT_SECONDS      30
//   log_file         FORMSMAINT_LOG_FILE             <data dir>/formsmaint.log
//   local_role       FORMSMAINT_LOCAL_ROLE           admin   or auditor: the workstation's
//                                                            user over its embedded inventory
//
// `token` and `token_file` are two ways to give one value: the one given at the highest
// layer wins (a --token-file on the command line over a FORMSMAINT_TOKEN), and both at the
// same layer are refused.
//
// The settings file is FORMSMAINT_SETTINGS, else $XDG_CONFIG_HOME/formsmaint/settings.ini
// (~/.config/...), lines "key = value", "#" starts a comment. The data dir is
// $XDG_DATA_HOME/formsmaint (~/.local/share/formsmaint). docs/settings.md has the details.
class SiteSettings {
 public:
  using Lookup = std::function<const char*(const char*)>;

  // Defaults only.
  SiteSettings();

  // Resolves every value. `commandLine` holds the keys given on the command line;
  // `environment` answers a variable or nullptr (std::getenv by default); `settingsFile`
  // empty means the default location. A malformed file line or value throws
  // PlatformError naming the file, line and key.
  static SiteSettings Resolve(const std::map<std::string, std::string>& commandLine = {},
                              Lookup environment = nullptr,
                              std::filesystem::path settingsFile = {});

  const std::string& Region() const { return mRegion; }
  const std::string& RequesterValue() const { return mRequester; }
  long UserId() const { return mUserId; }
  bool Switch(const std::string& name) const;
  const std::filesystem::path& LocalDatabaseFile() const { return mLocalDb; }
  const std::filesystem::path& InventoryFile() const { return mInventoryDb; }
  const std::string& ServerAddress() const { return mServer; }
  // The access token sent to the server: Token() when given directly, else read from
  // TokenFile(); at most one of the two is set.
  const std::string& Token() const { return mToken; }
  const std::filesystem::path& TokenFile() const { return mTokenFile; }
  // Certificates (PEM) trusted for an https server besides the system's.
  const std::filesystem::path& CaFile() const { return mCaFile; }
  std::chrono::milliseconds Timeout() const { return mTimeout; }
  const std::filesystem::path& LogFile() const { return mLogFile; }
  // What the workstation's user may do over the embedded inventory (no server given):
  // "admin", the default, owns it; "auditor" saves nothing and counts and certifies the
  // physical counts of every station (docs/counts.md).
  const std::string& LocalRole() const { return mLocalRole; }

  // Setters for tests and for the host shell's own options.
  void SetRegion(std::string v) { mRegion = std::move(v); }
  void SetRequesterValue(std::string v) { mRequester = std::move(v); }
  void SetUserId(long v) { mUserId = v; }
  void SetSwitch(const std::string& name, bool on);
  void SetLocalDatabaseFile(std::filesystem::path v) { mLocalDb = std::move(v); }
  void SetInventoryFile(std::filesystem::path v) { mInventoryDb = std::move(v); }
  void SetServerAddress(std::string v) { mServer = std::move(v); }
  void SetToken(std::string v) { mToken = std::move(v); }
  void SetTokenFile(std::filesystem::path v) { mTokenFile = std::move(v); }
  void SetCaFile(std::filesystem::path v) { mCaFile = std::move(v); }
  void SetTimeout(std::chrono::milliseconds v) { mTimeout = v; }
  void SetLogFile(std::filesystem::path v) { mLogFile = std::move(v); }
  void SetLocalRole(std::string v) { mLocalRole = std::move(v); }

  static std::filesystem::path DefaultDataDirectory(const Lookup& environment = nullptr);

 private:
  std::string mRegion;
  std::string mRequester;
  long mUserId;
  std::map<std::string, bool> mSwitches;  // names upper-cased
  std::filesystem::path mLocalDb;
  std::filesystem::path mInventoryDb;
  std::string mServer;
  std::string mToken;
  std::filesystem::path mTokenFile;
  std::filesystem::path mCaFile;
  std::chrono::milliseconds mTimeout;
  std::filesystem::path mLogFile;
  std::string mLocalRole = "admin";
};

}  // namespace fm
