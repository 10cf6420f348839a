// harkline-model-fetch LOCALE FOLDER: fetches the catalogue model of LOCALE
// (TESSARYN_SPEECH_MODEL_CATALOG or the built-in catalogue) into FOLDER, resuming what
// is there. Writes "progress DONE TOTAL" at each whole percent, then "done", or
// "error: REASON" and exits 1. For bench/assets.
#include <cstdio>
#include <exception>
#include <string>

#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/ModelDownload.h"

int main(int argc, char** argv) {
    using namespace harkline;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LOCALE FOLDER\n", argv[0]);
        return 2;
    }
    try {
        auto model = SpeechModelCatalog::current().model(argv[1]);
        if (!model) throw std::runtime_error(std::string("the catalogue has no model for ") + argv[1]);
        CurlModelFileFetcher fetcher;
        AssetInstallationProgress progress;
        InstallationLoop unwatched(progress, {});
        std::uintmax_t lastPercent = 101;
        ModelDownload(fetcher, argv[2], *model).run(
            [&](std::uintmax_t done, std::uintmax_t total) {
                auto percent = done * 100 / total;
                if (percent == lastPercent) return;
                lastPercent = percent;
                std::printf("progress %ju %ju\n", done, total);
                std::fflush(stdout);
            },
            unwatched);
        std::printf("done\n");
        return 0;
    } catch (const std::exception& failure) {
        std::printf("error: %s\n", failure.what());
        return 1;
    }
}
