#pragma once

#include <memory>
#include <string>

namespace fm {

class CommonUtility;
class ErrorReporter;
class EventLoop;
class HostFrame;
class LocalDatabase;
class ReplyStore;
class SiteSettings;
class UiServices;

// The common library's process-wide service objects, each created on first use from the
// site settings (or installed by the host shell or a test before first use). The
// accessors are guarded and may be called from any thread; the objects they answer are
// another matter: ErrorReporter, ReplyStore and EventLoop::Post are safe from any thread
// (the message transports' workers post replies through them), everything else belongs
// to the user-interface thread.
class Services {
 public:
  // Settings() resolves SiteSettings from the environment, the settings file and the
  // defaults (the host installs its own to add the command line), and throws the
  // PlatformError of a bad settings file. Errors() always answers: when the
  // settings or the log file fail it reports to standard error, with the reason as its
  // first report. Database() throws when the local database cannot be opened, and
  // Utility() with it.
  static SiteSettings& Settings();
  static std::shared_ptr<SiteSettings> SettingsPtr();
  static ErrorReporter& Errors();
  static std::shared_ptr<LocalDatabase> Database();
  static std::shared_ptr<ReplyStore> Replies();
  static CommonUtility& Utility();
  static HostFrame& Frame();
  static EventLoop& Loop();
  static UiServices& Ui();

  // The executable's name as error reports carry it.
  static const std::string& ExecutableName();

  // Each setter replaces the service (nullptr: created again on next use, except the
  // frame, which then ignores calls, and the user interface, whose absence Ui() reports
  // with a PlatformError). Replacing the settings, the database or the reply store also
  // drops the utility built from them, and with it any look installed on it.
  static void SetSettings(std::shared_ptr<SiteSettings> settings);
  static void SetErrorReporter(std::shared_ptr<ErrorReporter> reporter);
  static void SetDatabase(std::shared_ptr<LocalDatabase> database);
  static void SetReplyStore(std::shared_ptr<ReplyStore> replies);
  static void SetHostFrame(std::shared_ptr<HostFrame> frame);
  static void SetEventLoop(std::shared_ptr<EventLoop> loop);
  static void SetUiServices(std::shared_ptr<UiServices> ui);
  static void SetExecutableName(std::string name);

  // Drops every service (the utility is rebuilt on next use). Tests call it between cases.
  static void Reset();
};

}  // namespace fm
