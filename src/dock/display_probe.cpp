#include "dock/display_probe.hpp"

#include "base/descriptor.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace kd {

namespace {

struct FreeHost {
    void operator()(char* host) const { std::free(host); }
};

struct FreeAddresses {
    void operator()(addrinfo* addresses) const { freeaddrinfo(addresses); }
};

// Whether a connection to `address` is made within `timeout`; the error is the system's when
// there is no socket to try it with.
std::expected<bool, Error> knock(int family, const sockaddr* address, socklen_t length,
                                 std::chrono::milliseconds timeout)
{
    const Descriptor socket_fd(socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket_fd.fd == -1)
        return std::unexpected(description("cannot make a socket: " + os_error_text(errno)));
    if (connect(socket_fd.fd, address, length) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd writable{socket_fd.fd, POLLOUT, 0};
    if (poll(&writable, 1, static_cast<int>(timeout.count())) != 1) return false;
    int failure = 0;
    socklen_t failure_size = sizeof failure;
    return getsockopt(socket_fd.fd, SOL_SOCKET, SO_ERROR, &failure, &failure_size) == 0 &&
           failure == 0;
}

std::expected<bool, Error> knock_local(int display_number, bool abstract)
{
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display_number);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name is the path after a zero byte, without a zero byte of its own.
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return knock(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length,
                 std::chrono::milliseconds(0));
}

std::expected<bool, Error> knock_tcp(const char* host, int display_number,
                                     std::chrono::milliseconds timeout)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // The port as libxcb computes it, wrapping at 16 bits.
    const std::string port =
        std::to_string(static_cast<std::uint16_t>(X_TCP_PORT + display_number));
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(host, port.c_str(), &hints, &found);
    if (failure != 0) {
        const std::string why =
            failure == EAI_SYSTEM ? os_error_text(errno) : gai_strerror(failure);
        return std::unexpected(description("cannot look up the host name: " + why));
    }
    const std::unique_ptr<addrinfo, FreeAddresses> addresses(found);
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const auto answered =
            knock(address->ai_family, address->ai_addr, address->ai_addrlen, timeout);
        if (!answered || *answered) return answered;
    }
    return false;
}

// The abstract socket, the socket file and, for a name without a host, TCP on localhost.
std::expected<bool, Error> knock_locally(std::string_view host_name, int display_number,
                                         std::chrono::milliseconds tcp_timeout)
{
    for (const bool abstract : {true, false}) {
        auto answered = knock_local(display_number, abstract);
        if (!answered || *answered) return answered;
    }
    if (!host_name.empty()) return false;
    return knock_tcp("localhost", display_number, tcp_timeout);
}

} // namespace

std::expected<DisplayProbe, Error> probe_display(const char* display_name,
                                                 std::chrono::milliseconds tcp_timeout)
{
    char* raw_host = nullptr;
    int display_number = 0;
    int screen = 0;
    if (xcb_parse_display(display_name, &raw_host, &display_number, &screen) == 0)
        return DisplayProbe::NobodyAnswered;
    const std::unique_ptr<char, FreeHost> host(raw_host);
    const std::string_view host_name(host.get());
    const auto answered = host_name.empty() || host_name == "unix"
                              ? knock_locally(host_name, display_number, tcp_timeout)
                              : knock_tcp(host.get(), display_number, tcp_timeout);
    if (!answered) return std::unexpected(answered.error());
    return *answered ? DisplayProbe::ServerAnswered : DisplayProbe::NobodyAnswered;
}

} // namespace kd
