#include "platform/Services.h"

#include <mutex>

#include "platform/CommonUtility.h"
#include "platform/ErrorReporter.h"
#include "platform/HostFrame.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/QueueEventLoop.h"
#include "platform/ReplyStore.h"
#include "platform/SiteSettings.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr const char* kDefaultExecutableName = "formsmaint";

// The frame of a program without a host shell (a command-line tool, a test that does not
// look): the document's status and toolbar calls go nowhere.
class NullHostFrame final : public HostFrame {
 public:
  void SetStatusText(const std::string&) override {}
  void SetToolbarItem(int, bool, const std::string&) override {}
  void SetSecondStatus(bool) override {}
};

struct State {
  // Recursive: creating one service may need another (the utility needs the database,
  // which needs the settings), and a service being created may report an error, which
  // comes back here for the reporter on the same thread.
  std::recursive_mutex mutex;
  std::shared_ptr<SiteSettings> settings;
  std::shared_ptr<ErrorReporter> errors;
  std::shared_ptr<LocalDatabase> database;
  std::shared_ptr<ReplyStore> replies;
  std::shared_ptr<CommonUtility> utility;
  std::shared_ptr<HostFrame> frame;
  std::shared_ptr<EventLoop> loop;
  std::shared_ptr<UiServices> ui;
  std::string executableName = kDefaultExecutableName;
};

State& TheState() {
  static State state;
  return state;
}

std::shared_ptr<SiteSettings> SettingsLocked(State& state) {
  if (!state.settings) {
    state.settings = std::make_shared<SiteSettings>(SiteSettings::Resolve());
  }
  return state.settings;
}

std::shared_ptr<ReplyStore> RepliesLocked(State& state) {
  if (!state.replies) state.replies = std::make_shared<ReplyStore>();
  return state.replies;
}

std::shared_ptr<LocalDatabase> DatabaseLocked(State& state) {
  if (!state.database) {
    state.database = LocalDatabase::Open(SettingsLocked(state)->LocalDatabaseFile());
  }
  return state.database;
}

// The reporter must come into being whatever else is broken: it is what tells the user
// about the breakage. A settings file that does not resolve or a log file that cannot be
// opened leaves a reporter on standard error, which carries the reason as its first report.
std::shared_ptr<ErrorReporter> ErrorsLocked(State& state) {
  if (state.errors) return state.errors;
  std::string problem;
  std::filesystem::path logFile;
  try {
    logFile = SettingsLocked(state)->LogFile();
  } catch (const std::exception& e) {
    problem = e.what();
  }
  if (problem.empty() && !logFile.empty()) {
    try {
      state.errors = std::make_shared<ErrorReporter>(logFile);
    } catch (const std::exception& e) {
      problem = e.what();
    }
  }
  if (!state.errors) state.errors = std::make_shared<ErrorReporter>();
  if (!problem.empty()) {
    state.errors->Report(problem, state.executableName, "Services.Errors");
  }
  return state.errors;
}

}  // namespace

SiteSettings& Services::Settings() { return *SettingsPtr(); }

std::shared_ptr<SiteSettings> Services::SettingsPtr() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  return SettingsLocked(state);
}

ErrorReporter& Services::Errors() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  return *ErrorsLocked(state);
}

std::shared_ptr<LocalDatabase> Services::Database() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  return DatabaseLocked(state);
}

std::shared_ptr<ReplyStore> Services::Replies() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  return RepliesLocked(state);
}

CommonUtility& Services::Utility() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  if (!state.utility) {
    state.utility = std::make_shared<CommonUtility>(DatabaseLocked(state), SettingsLocked(state),
                                                    RepliesLocked(state));
  }
  return *state.utility;
}

HostFrame& Services::Frame() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  if (state.frame) return *state.frame;
  static NullHostFrame nullFrame;
  return nullFrame;
}

EventLoop& Services::Loop() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  if (!state.loop) state.loop = std::make_shared<QueueEventLoop>(std::make_shared<SteadyClock>());
  return *state.loop;
}

UiServices& Services::Ui() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  if (!state.ui) throw PlatformError(PlatformError::kGeneric, "No user interface is installed");
  return *state.ui;
}

const std::string& Services::ExecutableName() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  return state.executableName;
}

// Replacing the settings, the database or the replies also drops the utility built from
// them; it is rebuilt from the new ones on next use.
void Services::SetSettings(std::shared_ptr<SiteSettings> settings) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.settings = std::move(settings);
  state.utility.reset();
}

void Services::SetErrorReporter(std::shared_ptr<ErrorReporter> reporter) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.errors = std::move(reporter);
}

void Services::SetDatabase(std::shared_ptr<LocalDatabase> database) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.database = std::move(database);
  state.utility.reset();
}

void Services::SetReplyStore(std::shared_ptr<ReplyStore> replies) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.replies = std::move(replies);
  state.utility.reset();
}

void Services::SetHostFrame(std::shared_ptr<HostFrame> frame) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.frame = std::move(frame);
}

void Services::SetEventLoop(std::shared_ptr<EventLoop> loop) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.loop = std::move(loop);
}

void Services::SetUiServices(std::shared_ptr<UiServices> ui) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.ui = std::move(ui);
}

void Services::SetExecutableName(std::string name) {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.executableName = std::move(name);
}

void Services::Reset() {
  auto& state = TheState();
  std::lock_guard lock(state.mutex);
  state.settings.reset();
  state.errors.reset();
  state.database.reset();
  state.replies.reset();
  state.utility.reset();
  state.frame.reset();
  state.loop.reset();
  state.ui.reset();
  state.executableName = kDefaultExecutableName;
}

}  // namespace fm
