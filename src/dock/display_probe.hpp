#pragma once
// Whether anything listens where a display name points. libxcb gives one code for nobody
// listening, a socket it could not make, a set-up refused without a reason and a set-up cut
// short; knocking again at the same address afterwards tells the first two from the others.

#include "base/error.hpp"

#include <chrono>
#include <expected>

namespace kd {

enum class DisplayProbe { NobodyAnswered, ServerAnswered };

// Tries the transports in libxcb's order: for a local name the abstract socket, the socket
// file, then TCP on localhost; for a host name TCP alone, each address for at most
// `tcp_timeout`. The error is the system's, when no socket can be made or the host name does
// not resolve.
std::expected<DisplayProbe, Error>
probe_display(const char* display_name,
              std::chrono::milliseconds tcp_timeout = std::chrono::milliseconds(2000));

} // namespace kd
