#pragma once

#include <memory>
#include <string>

namespace fm {

class MessageTransport;
class SiteSettings;

// The transport the settings ask for: with no server address, the embedded inventory
// (settings' inventory file and region), whose changes are made by the local user (the
// settings' user id, named `localUserName`: the display name the comment stamps show, from
// CommonUtility::UserName) as an admin; otherwise HTTP to the server address, with the
// access token, trusted certificates and time-out of the settings. Throws PlatformError for
// an unusable server address, token, certificate file or inventory setting.
std::shared_ptr<MessageTransport> MakeMessageTransport(const SiteSettings& settings,
                                                       const std::string& localUserName);

// Installs the message component factory the host shell uses: the shared component
// (MessageComponent::Obtain) is then a TransportMessageComponent over
// MakeMessageTransport(settings, localUserName), with the settings' time-out and user id.
// The settings are copied; the address is checked now, so a bad setting is reported at
// start-up rather than at the first search. Drops any component obtained before.
//
// The shared component lives until the factory is replaced: a host shell calls
// MessageComponent::SetFactory(nullptr) before it ends, so the component's worker stops
// while the process's services (event loop, reply store) still exist.
void InstallMessageTransport(const SiteSettings& settings, const std::string& localUserName);

}  // namespace fm
