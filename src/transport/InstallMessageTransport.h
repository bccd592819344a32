#pragma once

#include <memory>

namespace fm {

class MessageTransport;
class SiteSettings;

// The transport the settings ask for: with no server address, the embedded inventory
// (settings' inventory file and region); otherwise HTTP to the server address, with the
// token file and the time-out of the settings. Throws PlatformError for an unusable server
// address or inventory setting.
std::shared_ptr<MessageTransport> MakeMessageTransport(const SiteSettings& settings);

// Installs the message component factory the host shell uses: the shared component
// (MessageComponent::Obtain) is then a TransportMessageComponent over
// MakeMessageTransport(settings), with the settings' time-out and user id. The settings are
// copied; the address is checked now, so a bad setting is reported at start-up rather than
// at the first search. Drops any component obtained before.
//
// The shared component lives until the factory is replaced: a host shell calls
// MessageComponent::SetFactory(nullptr) before it ends, so the component's worker stops
// while the process's services (event loop, reply store) still exist.
void InstallMessageTransport(const SiteSettings& settings);

}  // namespace fm
