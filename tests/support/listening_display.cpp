#include "support/listening_display.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kd::test {

namespace {

// This libxcb takes no socket paths as display names, so the server needs a number.
int listen_on_abstract_socket(int number)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(address.sun_path + 1, name.data(), name.size()); // leading zero byte: abstract
    const auto address_length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd != -1 && bind(fd, reinterpret_cast<const sockaddr*>(&address), address_length) == 0 &&
        listen(fd, 8) == 0) {
        return fd;
    }
    if (fd != -1) close(fd);
    return -1;
}

} // namespace

ListeningDisplay::ListeningDisplay()
{
    for (int number = 900; number < 1000 && display_.empty(); ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const int lock_fd = open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
        if (lock_fd == -1) continue;
        char pid_text[16];
        const int length =
            std::snprintf(pid_text, sizeof pid_text, "%10d\n", static_cast<int>(getpid()));
        const bool written = write(lock_fd, pid_text, static_cast<std::size_t>(length)) == length;
        close(lock_fd);
        const int fd = written ? listen_on_abstract_socket(number) : -1;
        if (fd == -1) {
            unlink(lock.c_str());
            continue;
        }
        listen_fd_ = fd;
        lock_file_ = lock;
        display_ = ":" + std::to_string(number);
    }
    if (display_.empty()) throw std::runtime_error("no free display number to listen on");
}

ListeningDisplay::~ListeningDisplay()
{
    close(listen_fd_);
    unlink(lock_file_.c_str());
}

void ServingThread::start(std::function<void(int stop_fd)> serve)
{
    if (pipe2(stop_pipe_, O_CLOEXEC) == -1)
        throw std::runtime_error(std::string("cannot start a test server: ") +
                                 std::strerror(errno));
    worker_ = std::thread([this, serve = std::move(serve)] { serve(stop_pipe_[0]); });
}

ServingThread::~ServingThread()
{
    if (!worker_.joinable()) return;
    const char stop = 's';
    while (write(stop_pipe_[1], &stop, 1) == -1 && errno == EINTR) {
    }
    worker_.join();
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

bool send_all(int fd, const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
        if (sent == -1 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace kd::test
