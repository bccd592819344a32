#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/MessageComponent.h"
#include "transport/EmbeddedTransport.h"
#include "transport/MessageTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm::testing {

// The document's requests answered by the forms server's own request handler, in-process
// over an inventory file: the embedded transport the desktop uses when no server is set.
class EmbeddedServer {
 public:
  // Makes a component over `transport` (embedded, or HTTP to a server the test runs) the
  // process's message component.
  void Connect(std::shared_ptr<MessageTransport> transport, long userId) {
    component =
        TransportMessageComponent::Create(std::move(transport), {std::chrono::seconds(60), userId});
    MessageComponent::SetFactory([c = component] { return c; });
  }

  // Call once the documents holding the component are gone.
  void Disconnect() {
    MessageComponent::SetFactory(nullptr);
    component.reset();
  }

  // Runs the user-interface thread's events until every request sent is answered. The limit
  // only keeps a broken transport from hanging the test.
  void AwaitReplies(EventLoop& loop) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      loop.ProcessPendingEvents();
      if (component->PendingCount() == 0) return;
      ASSERT_LT(std::chrono::steady_clock::now(), limit) << "no reply from the embedded server";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::shared_ptr<TransportMessageComponent> component;
};

}  // namespace fm::testing
