#pragma once
// A display number of its own for a server that a test runs in its own process (a relay or a
// fake server). The X lock file keeps real servers off the number, and the socket lives in the
// abstract namespace, where libxcb looks first and nothing is left behind on disk.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kd::test {

class ListeningDisplay {
  public:
    // Takes the first free number from 900 on; throws when there is none.
    ListeningDisplay();
    ~ListeningDisplay();
    ListeningDisplay(const ListeningDisplay&) = delete;
    ListeningDisplay& operator=(const ListeningDisplay&) = delete;

    // The display name, such as ":900".
    const std::string& display() const { return display_; }
    int listen_fd() const { return listen_fd_; }

  private:
    std::string display_;
    std::string lock_file_;
    int listen_fd_ = -1;
};

// The thread of such a server. `serve` runs on it until the descriptor it is given becomes
// readable: the destructor makes it so, and joins the thread.
class ServingThread {
  public:
    ServingThread() = default;
    ~ServingThread();
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    // Once, when everything `serve` reads is in place; throws when no pipe can be made.
    void start(std::function<void(int stop_fd)> serve);

  private:
    int stop_pipe_[2] = {-1, -1};
    std::thread worker_;
};

// A length rounded up to the X protocol's four-byte units.
inline std::size_t padded(std::size_t length)
{
    return (length + 3) & ~std::size_t{3};
}

// Sends all of data unless the peer is gone (no SIGPIPE); false when it is.
bool send_all(int fd, const std::uint8_t* data, std::size_t length);

} // namespace kd::test
