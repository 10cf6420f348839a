#pragma once

#include <string>
#include <vector>

namespace harkline {

// Sends what is written to standard error (descriptor 2) into a memory file for as long
// as the capture lives, so that an engine that only talks to standard error can be
// quoted in our log instead. Anything else writing to standard error meanwhile is
// captured too. Without a memory file the capture does nothing.
class StandardErrorCapture {
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    // Puts standard error back and returns the lines written meanwhile (at most 64 KiB),
    // empty lines left out.
    std::vector<std::string> finish();

private:
    int savedDescriptor_ = -1;
    int captureDescriptor_ = -1;
};

}  // namespace harkline
