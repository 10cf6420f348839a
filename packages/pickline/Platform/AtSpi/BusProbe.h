#pragma once

#include <chrono>
#include <string>

namespace pickline::atspi {

// Whether the bus at a D-Bus address goes through the start of a connection within
// `within`: it accepts an EXTERNAL authentication and answers Hello. libdbus waits without
// limit, or for its own 25 s, on a bus whose socket accepts a connection and then stalls,
// sends garbage or never answers a call, so a bus is asked here before libdbus is given
// its address. Addresses of transports other than Unix sockets are taken as answering:
// libdbus alone decides about them.
bool busAnswers(const std::string& address, std::chrono::milliseconds within);

}  // namespace pickline::atspi
