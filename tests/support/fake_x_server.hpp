#pragma once
// An X server that lies on purpose, and the lies it tells. Once a client has sent its set-up
// request, the server answers with the set-up reply it was given, whatever was asked: one with
// false counts, one cut short, a refusal. Bytes past the reply's own length (as its length
// field gives it) are what it sends after each frame (PutImage); it answers InternAtom with
// an atom. With nothing to send after frames, it closes its side for writing after the reply.

#include "support/listening_display.hpp"

#include <xcb/xcb.h>

#include <array>
#include <functional>
#include <string>

namespace kd::test {

class FakeXServer {
  public:
    explicit FakeXServer(const std::string& answer);

    const std::string& display() const { return listening_.display(); }

  private:
    void serve(int stop_fd);

    std::string setup_answer_;
    std::string after_each_frame_;
    ListeningDisplay listening_;
    ServingThread serving_; // last: stopped before what it reads goes
};

// The records of a set-up reply, in this machine's byte order (which is the client's).
struct SetupRecords {
    xcb_setup_t setup{};
    std::array<xcb_format_t, 2> formats{};
    xcb_screen_t screen{};
    xcb_depth_t depth{};
    xcb_visualtype_t visual{};
};
inline constexpr std::size_t SETUP_REPLY_BYTES = 132;

// A set-up like Xvfb's, cut down to a vendor of 4 bytes and one screen of depth 24 with one
// visual. `lie` changes what it announces; it ends after `keep` bytes, and its length field
// says so.
std::string setup_reply(const std::function<void(SetupRecords&)>& lie = {},
                        std::size_t keep = SETUP_REPLY_BYTES);

// A set-up refused with this reason.
std::string setup_refusal(std::string reason);

// A GenericEvent that claims 16 GiB after its first 32 bytes.
std::string absurd_generic_event();

} // namespace kd::test
