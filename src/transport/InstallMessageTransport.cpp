#include "transport/InstallMessageTransport.h"

#include "platform/MessageComponent.h"
#include "platform/SiteSettings.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpAddress.h"
#include "transport/HttpTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm {

std::shared_ptr<MessageTransport> MakeMessageTransport(const SiteSettings& settings) {
  if (settings.ServerAddress().empty()) {
    EmbeddedTransport::Options options;
    options.inventoryFile = settings.InventoryFile();
    options.region = settings.Region();
    return std::make_shared<EmbeddedTransport>(std::move(options));
  }
  HttpTransport::Options options;
  options.address = settings.ServerAddress();
  options.tokenFile = settings.TokenFile();
  options.timeout = settings.Timeout();
  return std::make_shared<HttpTransport>(std::move(options));
}

void InstallMessageTransport(const SiteSettings& settings) {
  if (!settings.ServerAddress().empty()) HttpAddress::Parse(settings.ServerAddress());
  MessageComponent::SetFactory([settings] {
    return TransportMessageComponent::Create(
        MakeMessageTransport(settings), TransportMessageComponent::Options::FromSettings(settings));
  });
}

}  // namespace fm
