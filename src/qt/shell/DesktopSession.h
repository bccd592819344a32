#pragma once

#include <memory>
#include <string>

#include "platform/MessageComponent.h"

namespace fm {
class SiteSettings;
}

namespace fm::qt {

class QtEventLoop;
class QtUiServices;

// The process-wide services of the desktop, installed for the life of the session: the site
// settings, the error reporter (the settings' log file), the local database (opened now, so
// that an unusable file stops the start with its reason), the reply store, the Qt event
// loop and user-interface services, the desktop's looks on the common utility, and the
// message component: the transport the settings ask for (the embedded inventory, or the
// server), or the factory given.
//
// Create after the QApplication, on the user-interface thread; one session at a time. The
// destructor removes everything again (the message component's worker stops).
//
// Errors: a local database that cannot be opened or created, or an unusable server
// address, throws PlatformError with the reason; nothing stays installed.
class DesktopSession {
 public:
  struct Options {
    std::shared_ptr<SiteSettings> settings;
    // Empty: the transport of the settings (transport/InstallMessageTransport.h).
    MessageComponent::Factory messages;
  };

  explicit DesktopSession(Options options);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  QtUiServices& Ui() const { return *mUi; }
  QtEventLoop& Loop() const { return *mLoop; }
  const SiteSettings& Settings() const { return *mSettings; }
  // Where requests go, for the connection indicator: "Embedded inventory (<file>)" or
  // "Server <address>".
  std::string ConnectionText() const;

 private:
  std::shared_ptr<SiteSettings> mSettings;
  std::shared_ptr<QtEventLoop> mLoop;
  std::shared_ptr<QtUiServices> mUi;
};

}  // namespace fm::qt
