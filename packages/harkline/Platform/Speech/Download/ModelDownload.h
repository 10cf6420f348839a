#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "harkline/Platform/Speech/Download/ModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"

namespace harkline {

// Fetches the files of one catalogue model into a folder that outlives the process, so
// that an interrupted download (network error, cancel, kill, power loss) continues where
// it stopped. A file is fetched into NAME.part and renamed to NAME only once its size and
// SHA-256 match the catalogue: NAME in the folder is always a whole, verified file. On
// resume the hash of the partial file is recomputed from disk and the rest is asked for
// with a range; a server that ignores ranges sends the whole file, which then starts over,
// and kept bytes that turn out wrong (a power loss) make the file start over once.
class ModelDownload {
public:
    // Bytes of all the model's files that are in the folder so far, and their total; the
    // first report counts what earlier runs kept, before it is checked again.
    using ProgressCallback = std::function<void(std::uintmax_t doneBytes, std::uintmax_t totalBytes)>;

    ModelDownload(ModelFileFetcher& fetcher, std::filesystem::path folder, CatalogModel model)
        : fetcher_(fetcher), folder_(std::move(folder)), model_(std::move(model)) {}

    // Returns once every file is whole and verified in the folder, serving `loop` while it
    // waits and hashes. Throws ModelDownloadError, AssetInstallationCancelled or
    // std::system_error, keeping what was fetched, except a file whose bytes turned out
    // wrong, which is removed, and every partial file when the disk is full. A folder or
    // file in it that is a link, or not the user's own, is refused and left as it is.
    void run(const ProgressCallback& progress, InstallationLoop& loop);

    // Bytes of the model's files that the folder already holds (whole files, and what was
    // kept of the others): where a download into it starts counting.
    static std::uintmax_t keptBytes(const std::filesystem::path& folder, const CatalogModel& model);
    // The folder a locale's download resumes from: "<models>/.<locale>.download".
    static std::filesystem::path folderFor(const std::filesystem::path& modelsDirectory, const std::string& locale);
    static std::string partialName(const std::string& name) { return name + ".part"; }

private:
    void fetchFile(const class DownloadFolder& folder, const CatalogModelFile& file, class DownloadCounter& counter,
                   InstallationLoop& loop);
    void fetchRest(const CatalogModelFile& file, class PartialFile& part, InstallationLoop& loop);

    ModelFileFetcher& fetcher_;
    std::filesystem::path folder_;
    CatalogModel model_;
};

}  // namespace harkline
