#pragma once

#include <chrono>
#include <string>

namespace pickline::atspi {

// Whether the bus at a D-Bus address answers the first step of the authentication
// handshake within `within`. libdbus waits without limit for a bus whose socket accepts
// a connection and never answers (a stalled or stopped daemon), so a bus is asked here
// before libdbus is given its address. Addresses of transports other than Unix sockets
// are taken as answering: libdbus alone decides about them.
bool busAnswers(const std::string& address, std::chrono::milliseconds within);

}  // namespace pickline::atspi
