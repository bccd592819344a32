#include "qt/shell/DesktopSession.h"

#include <fmt/format.h>

#include "platform/CommonUtility.h"
#include "platform/ErrorReporter.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "qt/render/DesktopLooks.h"
#include "qt/shell/QtEventLoop.h"
#include "qt/shell/QtUiServices.h"
#include "transport/InstallMessageTransport.h"

namespace fm::qt {

namespace {
constexpr const char* kExecutableName = "formsmaint";
}

DesktopSession::DesktopSession(Options options) : mSettings(std::move(options.settings)) {
  if (!mSettings) {
    throw PlatformError(PlatformError::kGeneric, "The desktop session needs the site settings");
  }
  Services::Reset();
  try {
    Services::SetExecutableName(kExecutableName);
    Services::SetSettings(mSettings);
    Services::Errors();  // created now from the settings: its first report explains a bad log
    Services::SetDatabase(LocalDatabase::Open(mSettings->LocalDatabaseFile()));
    mLoop = std::make_shared<QtEventLoop>();
    Services::SetEventLoop(mLoop);
    mUi = std::make_shared<QtUiServices>();
    Services::SetUiServices(mUi);
    DesktopLooks::Install(Services::Utility());
    if (options.messages) {
      MessageComponent::SetFactory(std::move(options.messages));
    } else {
      // The embedded inventory's changes are the local user's, named as the comment
      // stamps name them.
      InstallMessageTransport(*mSettings, Services::Utility().UserName(mSettings->UserId()));
    }
  } catch (...) {
    MessageComponent::SetFactory(nullptr);
    Services::Reset();
    throw;
  }
}

DesktopSession::~DesktopSession() {
  // The component's worker may still post replies: it stops before the loop goes.
  MessageComponent::SetFactory(nullptr);
  Services::Reset();
}

std::string DesktopSession::ConnectionText() const {
  if (!mSettings->ServerAddress().empty()) {
    return fmt::format("Server {}", mSettings->ServerAddress());
  }
  return fmt::format("Embedded inventory ({})", mSettings->InventoryFile().filename().string());
}

}  // namespace fm::qt
