// The cost of formatting a final result (CasingAndSpacingFormatter), against what every
// final result costs already: its JSON line, made the way harkline makes it. Both in the
// same run, on the same texts. Prints nanoseconds per final and the ratio.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "harkline/Transcription/CasingAndSpacingFormatter.h"

namespace {

// Finals as the engines write them: the bilingual model's, the English model's, pocketsphinx's,
// and a long dictated passage (about 300 bytes).
const std::vector<std::string> finals = {
    "我们明天见HELLO WORLD",
    "GO FORWARD TEN METERS",
    "had he married a more amiable woman he might have been made still more respectable",
    "今天的会议我们讨论了THE QUARTERLY REPORT然后决定下周一再看一次I THINK WE SHOULD SEND IT TO THE TEAM BEFORE FRIDAY"
    "另外请把PDF版本发给我谢谢",
};

template <typename Work>
double nanosecondsPerFinal(int rounds, Work work) {
    std::size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round)
        for (const auto& text : finals) sink += work(text);
    auto elapsed = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    if (sink == 0) std::puts("");  // keeps the work from being optimised away
    return elapsed / (static_cast<double>(rounds) * static_cast<double>(finals.size()));
}

}  // namespace

int main() {
    const harkline::CasingAndSpacingFormatter formatter;
    auto line = [](const std::string& text) {
        nlohmann::json message = {{"type", "result"},
                                  {"payload", {{"text", text}, {"isFinal", true}, {"bytesProcessed", 86400}}}};
        return message.dump().size();
    };
    auto format = [&](const std::string& text) { return formatter.format(text).size(); };
    constexpr int rounds = 200000;
    nanosecondsPerFinal(rounds / 10, line);  // warm-up
    nanosecondsPerFinal(rounds / 10, format);
    double baseline = nanosecondsPerFinal(rounds, line);
    double formatting = nanosecondsPerFinal(rounds, format);
    std::printf("baseline: the final's JSON line  %8.1f ns per final\n", baseline);
    std::printf("formatting the final's text      %8.1f ns per final, %.2fx baseline\n", formatting, formatting / baseline);
}
