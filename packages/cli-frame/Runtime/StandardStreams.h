#pragma once

namespace cli {

// Readies the standard descriptors; call it first thing in main, before anything is
// opened. A closed 0, 1 or 2 is opened on /dev/null so that no file opened later takes
// its number: the log must not receive the answers meant for standard output, nor be
// closed by the standard-input reader. SIGPIPE is ignored so that a write to a host that
// stopped reading fails with EPIPE, which the writer reports, instead of killing us.
void prepareStandardStreams();

}  // namespace cli
