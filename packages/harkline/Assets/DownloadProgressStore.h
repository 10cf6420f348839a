#pragma once

namespace harkline {

// The last progress fraction `assets.download` reported, for its cancelled line.
class DownloadProgressStore {
public:
    void update(double value) { value_ = value; }
    double current() const { return value_; }

private:
    double value_ = 0;
};

}  // namespace harkline
