#include "support/fake_x_server.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kd::test {

namespace {

constexpr std::uint8_t INTERN_ATOM = 16;
constexpr std::uint8_t PUT_IMAGE = 72;

struct Client {
    int fd = -1;
    std::string pending; // received, not yet a whole request
    bool set_up = false;
    std::uint16_t sequence = 0;
};

// The client speaks in this machine's byte order.
std::uint16_t read16(const std::string& bytes, std::size_t at)
{
    std::uint16_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// The length of the set-up request or request that `pending` starts with; 0 while it is not
// all there. (No request of a clock of 96 pixels needs the BIG-REQUESTS length.)
std::size_t next_request(const Client& client)
{
    const std::string& bytes = client.pending;
    std::size_t total = 0;
    if (!client.set_up && bytes.size() >= 12)
        total = 12 + padded(read16(bytes, 6)) + padded(read16(bytes, 8));
    else if (client.set_up && bytes.size() >= 4)
        total = std::size_t{read16(bytes, 2)} * 4;
    return total != 0 && bytes.size() >= total ? total : 0;
}

void send_text(int fd, const std::string& bytes)
{
    send_all(fd, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Answers every whole request that the client has sent so far. Bytes sent before the client
// asks would be taken by libxcb for a reply of its own, which it then waits to read whole.
void answer(Client& client, const std::string& setup_answer, const std::string& after_frame)
{
    while (const std::size_t length = next_request(client)) {
        const auto opcode = static_cast<std::uint8_t>(client.pending[0]);
        client.pending.erase(0, length);
        if (!client.set_up) {
            client.set_up = true;
            send_text(client.fd, setup_answer);
            if (after_frame.empty()) shutdown(client.fd, SHUT_WR);
            continue;
        }
        ++client.sequence;
        if (opcode == INTERN_ATOM) {
            std::array<std::uint8_t, 32> reply{1};
            std::memcpy(&reply[2], &client.sequence, sizeof client.sequence);
            reply[8] = static_cast<std::uint8_t>(0x80 + client.sequence); // the atom
            send_all(client.fd, reply.data(), reply.size());
        } else if (opcode == PUT_IMAGE) {
            send_text(client.fd, after_frame);
        }
    }
}

} // namespace

FakeXServer::FakeXServer(const std::string& answer)
{
    const std::size_t setup_length =
        answer.size() < 8 ? answer.size() : 8 + std::size_t{read16(answer, 6)} * 4;
    setup_answer_ = answer.substr(0, setup_length);
    if (setup_length < answer.size()) after_each_frame_ = answer.substr(setup_length);
    serving_.start([this](int stop_fd) { serve(stop_fd); });
}

void FakeXServer::serve(int stop_fd)
{
    std::vector<Client> clients;
    while (true) {
        std::vector<pollfd> watched{{stop_fd, POLLIN, 0}, {listening_.listen_fd(), POLLIN, 0}};
        for (const Client& client : clients)
            watched.push_back({client.fd, POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) == -1) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[0].revents != 0) break;
        for (std::size_t i = clients.size(); i-- > 0;) {
            if (watched[2 + i].revents == 0) continue;
            char chunk[65536];
            const ssize_t got = recv(clients[i].fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            clients[i].pending.append(chunk, static_cast<std::size_t>(got));
            answer(clients[i], setup_answer_, after_each_frame_);
        }
        if (watched[1].revents & POLLIN) {
            const int client = accept4(listening_.listen_fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client != -1) clients.push_back({client, {}, false, 0});
        }
    }
    for (const Client& client : clients)
        close(client.fd);
}

template <typename Record> void append(std::string& bytes, const Record& record)
{
    bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string setup_reply(const std::function<void(SetupRecords&)>& lie, std::size_t keep)
{
    SetupRecords r;
    // Success, protocol 11.0, the ids 0x200000 to 0x3fffff, requests of up to 65535 units,
    // LSBFirst images.
    r.setup.status = 1;
    r.setup.protocol_major_version = 11;
    r.setup.resource_id_base = 0x200000;
    r.setup.resource_id_mask = 0x1fffff;
    r.setup.vendor_len = 4;
    r.setup.maximum_request_length = 65535;
    r.setup.roots_len = 1;
    r.setup.pixmap_formats_len = 2;
    r.formats = {{{1, 1, 32, {}}, {24, 32, 32, {}}}};
    r.screen.root = 0x100;
    r.screen.root_visual = 0x21;
    r.screen.root_depth = 24;
    r.screen.allowed_depths_len = 1;
    r.depth.depth = 24;
    r.depth.visuals_len = 1;
    r.visual = {0x21, XCB_VISUAL_CLASS_TRUE_COLOR, 8, 256, 0xff0000, 0xff00, 0xff, {}};
    if (lie) lie(r);
    r.setup.length = static_cast<std::uint16_t>((keep - 8) / 4);
    std::string bytes;
    append(bytes, r.setup);
    bytes += "fake";
    append(bytes, r.formats);
    append(bytes, r.screen);
    append(bytes, r.depth);
    append(bytes, r.visual);
    return bytes.substr(0, keep);
}

std::string setup_refusal(std::string reason)
{
    const auto units = static_cast<std::uint16_t>((reason.size() + 3) / 4);
    std::string bytes{0, static_cast<char>(reason.size()), 11, 0, 0, 0};
    append(bytes, units);
    reason.resize(std::size_t{units} * 4);
    return bytes + reason;
}

std::string absurd_generic_event()
{
    xcb_ge_generic_event_t event{};
    event.response_type = XCB_GE_GENERIC;
    event.length = 0xffffffff;
    std::string bytes;
    append(bytes, event);
    return bytes;
}

} // namespace kd::test
