#include "support/no_big_requests_proxy.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace kd::test {

namespace {

constexpr std::uint8_t QUERY_EXTENSION = 98;
constexpr std::string_view HIDDEN_EXTENSION = "BIG-REQUESTS";
constexpr std::string_view UNKNOWN_EXTENSION = "BIG-REQUESTZ"; // same length, so no length changes

sockaddr_un unix_address(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// One relayed client. Client bytes are cut into whole requests so that a QueryExtension
// for the hidden extension can be renamed before it reaches the server.
struct Relay {
    int client = -1;
    int server = -1;
    bool setup_sent = false;
    bool little_endian = true;
    std::vector<std::uint8_t> pending;

    std::uint16_t read16(std::size_t at) const
    {
        return little_endian ? static_cast<std::uint16_t>(pending[at] | pending[at + 1] << 8)
                             : static_cast<std::uint16_t>(pending[at] << 8 | pending[at + 1]);
    }
    std::uint32_t read32(std::size_t at) const
    {
        const std::uint32_t low = read16(at);
        const std::uint32_t high = read16(at + 2);
        return little_endian ? (high << 16 | low) : (low << 16 | high);
    }

    // Length of the next whole unit in `pending`, or 0 while it is incomplete.
    std::size_t next_unit() const
    {
        if (!setup_sent) {
            if (pending.size() < 12) return 0;
            const std::size_t total = 12 + padded(read16(6)) + padded(read16(8));
            return pending.size() >= total ? total : 0;
        }
        if (pending.size() < 4) return 0;
        std::size_t total = std::size_t{read16(2)} * 4;
        if (total == 0) { // extended length of BIG-REQUESTS
            if (pending.size() < 8) return 0;
            total = std::size_t{read32(4)} * 4;
        }
        return total != 0 && pending.size() >= total ? total : 0;
    }

    // Forwards every whole unit received so far; false when the server side failed.
    bool forward()
    {
        if (!setup_sent && !pending.empty()) little_endian = pending[0] == 'l';
        std::size_t unit;
        while ((unit = next_unit()) != 0) {
            if (setup_sent && pending[0] == QUERY_EXTENSION &&
                unit >= 8 + HIDDEN_EXTENSION.size() && read16(4) == HIDDEN_EXTENSION.size() &&
                std::memcmp(&pending[8], HIDDEN_EXTENSION.data(), HIDDEN_EXTENSION.size()) == 0) {
                std::memcpy(&pending[8], UNKNOWN_EXTENSION.data(), UNKNOWN_EXTENSION.size());
            }
            if (!send_all(server, pending.data(), unit)) return false;
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(unit));
            setup_sent = true;
        }
        return true;
    }
};

} // namespace

NoBigRequestsProxy::NoBigRequestsProxy(const XvfbServer& server)
    : server_socket_("/tmp/.X11-unix/X" + server.display().substr(1))
{
    serving_.start([this](int stop_fd) { relay(stop_fd); });
}

void NoBigRequestsProxy::relay(int stop_fd)
{
    std::vector<Relay> relays;
    const auto drop = [&](std::size_t index) {
        close(relays[index].client);
        close(relays[index].server);
        relays.erase(relays.begin() + static_cast<std::ptrdiff_t>(index));
    };
    while (true) {
        std::vector<pollfd> watched{{stop_fd, POLLIN, 0}, {listening_.listen_fd(), POLLIN, 0}};
        for (const Relay& relay : relays) {
            watched.push_back({relay.client, POLLIN, 0});
            watched.push_back({relay.server, POLLIN, 0});
        }
        if (poll(watched.data(), watched.size(), -1) == -1) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[0].revents != 0) break;
        // Relays first: the indices of `watched` follow `relays` as it was before this pass.
        for (std::size_t i = relays.size(); i-- > 0;) {
            const pollfd& from_client = watched[2 + 2 * i];
            const pollfd& from_server = watched[3 + 2 * i];
            std::uint8_t chunk[65536];
            bool alive = true;
            if (from_server.revents != 0) {
                const ssize_t got = recv(relays[i].server, chunk, sizeof chunk, 0);
                alive = got > 0 && send_all(relays[i].client, chunk, static_cast<std::size_t>(got));
            }
            if (alive && from_client.revents != 0) {
                const ssize_t got = recv(relays[i].client, chunk, sizeof chunk, 0);
                if (got > 0) {
                    relays[i].pending.insert(relays[i].pending.end(), chunk, chunk + got);
                    alive = relays[i].forward();
                } else {
                    alive = false;
                }
            }
            if (!alive) drop(i);
        }
        if (watched[1].revents & POLLIN) {
            const int client = accept4(listening_.listen_fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client == -1) continue;
            const int upstream = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_un address = unix_address(server_socket_);
            if (upstream == -1 || connect(upstream, reinterpret_cast<const sockaddr*>(&address),
                                          sizeof address) == -1) {
                close(client);
                if (upstream != -1) close(upstream);
                continue;
            }
            Relay relay;
            relay.client = client;
            relay.server = upstream;
            relays.push_back(std::move(relay));
        }
    }
    while (!relays.empty())
        drop(relays.size() - 1);
}

} // namespace kd::test
