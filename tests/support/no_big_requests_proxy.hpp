#pragma once
// A local relay in front of an X server that makes the server look as if it had no
// BIG-REQUESTS extension: requests for it are renamed on the way, so the server answers
// "not present". Clients then have only the core limit of 262140 bytes per request.

#include "support/listening_display.hpp"
#include "support/xvfb.hpp"

#include <string>

namespace kd::test {

class NoBigRequestsProxy {
  public:
    // Listens on a display number of its own and relays every client to `server` until it is
    // destroyed, which closes every relayed connection.
    explicit NoBigRequestsProxy(const XvfbServer& server);

    // The relay's display name, such as ":900".
    const std::string& display() const { return listening_.display(); }

  private:
    void relay(int stop_fd);

    ListeningDisplay listening_;
    std::string server_socket_;
    ServingThread serving_; // last: stopped before what it reads goes
};

} // namespace kd::test
