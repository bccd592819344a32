#include "transport/InstallMessageTransport.h"

#include "platform/MessageComponent.h"
#include "platform/SiteSettings.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm {

std::shared_ptr<MessageTransport> MakeMessageTransport(const SiteSettings& settings,
                                                       const std::string& localUserName) {
  if (settings.ServerAddress().empty()) {
    EmbeddedTransport::Options options;
    options.inventoryFile = settings.InventoryFile();
    options.region = settings.Region();
    options.user = server::Principal::LocalAdministrator(settings.UserId(), localUserName);
    // An auditor holds no forms, so he may attest to every station's (docs/counts.md).
    if (settings.LocalRole() == "auditor") options.user.role = server::Role::Auditor;
    return std::make_shared<EmbeddedTransport>(std::move(options));
  }
  HttpTransport::Options options;
  options.address = settings.ServerAddress();
  options.token = settings.Token();
  options.tokenFile = settings.TokenFile();
  options.caFile = settings.CaFile();
  options.timeout = settings.Timeout();
  return std::make_shared<HttpTransport>(std::move(options));
}

void InstallMessageTransport(const SiteSettings& settings, const std::string& localUserName) {
  // The transport is made now once, so a bad address, token or certificate file is reported
  // at start-up rather than at the first search.
  if (!settings.ServerAddress().empty()) MakeMessageTransport(settings, localUserName);
  MessageComponent::SetFactory([settings, localUserName] {
    return TransportMessageComponent::Create(
        MakeMessageTransport(settings, localUserName),
        TransportMessageComponent::Options::FromSettings(settings));
  });
}

}  // namespace fm
