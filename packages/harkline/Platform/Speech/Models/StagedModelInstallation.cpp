#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"

#include <cerrno>
#include <cstdio>
#include <numeric>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Files/FileDescriptor.h"
#include "harkline/Platform/Speech/Models/FileDigest.h"
#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using cli::FileDescriptor;

constexpr std::size_t copyChunkSize = 128 * 1024;

[[noreturn]] void failWithErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}


void syncPath(const fs::path& path, int flags) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) failWithErrno("cannot sync " + path.string());
}

void syncDirectory(const fs::path& directory) { syncPath(directory, O_DIRECTORY); }

// Removes the staging folder on every way out: after the swap it holds the replaced model.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& modelsDirectory, const std::string& locale) {
        std::string pattern = (modelsDirectory / ("." + locale + ".staging-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) failWithErrno("cannot create a staging folder in " + modelsDirectory.string());
        path_ = pattern;
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Copies bytes while keeping the progress current, serving the loop between pieces.
class ByteCopier {
public:
    ByteCopier(InstallationLoop& loop, std::uintmax_t totalBytes) : loop_(loop), totalBytes_(totalBytes) {}

    // Returns the SHA-256 of the bytes read.
    std::string copy(const fs::path& from, const fs::path& to, std::uintmax_t expectedSize) {
        // The source is the user's: a FIFO or a device in a file's place must not hold the copy.
        FileDescriptor input(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (input.get() < 0) failWithErrno("cannot open " + from.string());
        struct stat status {};
        if (::fstat(input.get(), &status) != 0) failWithErrno("cannot read " + from.string());
        if (!S_ISREG(status.st_mode)) throw std::runtime_error(from.string() + " is not a regular file");
        FileDescriptor output(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (output.get() < 0) failWithErrno("cannot create " + to.string());

        std::uintmax_t copied = 0;
        Sha256 digest;
        while (true) {
            loop_.serve();
            ssize_t count = ::read(input.get(), buffer_.data(), buffer_.size());
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) failWithErrno("cannot read " + from.string());
            if (count == 0) break;
            copied += static_cast<std::uintmax_t>(count);
            if (copied > expectedSize) throw std::runtime_error(from.string() + " changed while it was being copied");
            digest.update(buffer_.data(), static_cast<std::size_t>(count));
            writeAll(output.get(), static_cast<std::size_t>(count), to);
            done_ += static_cast<std::uintmax_t>(count);
            loop_.progress().setFractionCompleted(static_cast<double>(done_) / static_cast<double>(totalBytes_));
        }
        if (copied != expectedSize) throw std::runtime_error(from.string() + " changed while it was being copied");
        if (::fsync(output.get()) != 0) failWithErrno("cannot sync " + to.string());
        if (output.close() != 0) failWithErrno("cannot write " + to.string());
        return digest.hexDigest();
    }

private:
    void writeAll(int fd, std::size_t size, const fs::path& to) {
        std::size_t written = 0;
        while (written < size) {
            ssize_t count = ::write(fd, buffer_.data() + written, size - written);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) failWithErrno("cannot write " + to.string());
            written += static_cast<std::size_t>(count);
        }
    }

    InstallationLoop& loop_;
    std::uintmax_t totalBytes_;
    std::uintmax_t done_ = 0;
    std::vector<char> buffer_ = std::vector<char>(copyChunkSize);
};

// Puts `staged` at `destination` in one step. An older model there is swapped into
// `staged`'s place (and removed with the staging folder), so the destination always
// holds either the whole old model or the whole new one.
void swapIntoPlace(const fs::path& staged, const fs::path& destination, const fs::path& stagingFolder) {
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) == 0) return;
    if (errno == ENOENT) {
        if (::rename(staged.c_str(), destination.c_str()) != 0) failWithErrno("cannot move the model to " + destination.string());
        return;
    }
    if (errno != EINVAL && errno != ENOSYS) failWithErrno("cannot move the model to " + destination.string());
    // File systems without an exchanging rename: two renames; a crash between them leaves
    // the old model in the staging folder, which the next installation removes.
    if (::rename(destination.c_str(), (stagingFolder / "replaced").c_str()) != 0)
        failWithErrno("cannot move the old model aside from " + destination.string());
    if (::rename(staged.c_str(), destination.c_str()) != 0) failWithErrno("cannot move the model to " + destination.string());
}

}  // namespace

bool StagedModelInstallation::isStagingFolderName(const std::string& name, const std::string& locale) {
    return name.starts_with("." + locale + ".staging-");
}

std::string StagedModelInstallation::stagingFolderLocale(const std::string& name) {
    auto end = name.find(".staging-");
    if (!name.starts_with(".") || end == std::string::npos || end < 2) return {};
    return name.substr(1, end - 1);
}

// A staging folder is stale when no installation of its locale runs: installations hold
// their locale's lock from before they create the folder until after they remove it.
void StagedModelInstallation::removeStaleStagingFolders(const fs::path& modelsDirectory, const std::string& lockedLocale) {
    std::error_code error;
    std::vector<fs::path> stale;
    for (fs::directory_iterator entry(modelsDirectory, error), end; !error && entry != end; entry.increment(error)) {
        auto locale = stagingFolderLocale(entry->path().filename().string());
        if (locale.empty()) continue;
        if (locale == lockedLocale || !ModelInstallationLock::isHeld(ModelInstallationLock::path(modelsDirectory, locale)))
            stale.push_back(entry->path());
    }
    for (const auto& folder : stale) fs::remove_all(folder, error);
}

void StagedModelInstallation::downloadAndInstall(const InstallationWatch& watch) {
    InstallationLoop loop(progress_, watch);
    const auto& locale = source_.locale;
    std::error_code error;
    fs::create_directories(modelsDirectory_, error);
    if (error) throw std::system_error(error, "cannot create the model folder " + modelsDirectory_.string());

    auto lock = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(modelsDirectory_, locale));
    if (!lock) throw std::runtime_error("another installation of the " + locale + " speech model is running");
    // Holding the lock, every staging folder of this locale was left by an installation that died.
    removeStaleStagingFolders(modelsDirectory_, locale);

    if (fetched_) fetched_->fetch(loop);
    auto manifest = source_.manifest();
    if (manifest.files.empty()) throw std::runtime_error("the model source of " + locale + " holds no files");
    auto totalBytes = std::accumulate(manifest.files.begin(), manifest.files.end(), std::uintmax_t{0},
                                      [](std::uintmax_t sum, const SpeechModelFile& file) { return sum + file.size; });
    ByteCopier copier(loop, std::max<std::uintmax_t>(totalBytes, 1));

    StagingFolder staging(modelsDirectory_, locale);
    auto staged = staging.path() / locale;
    std::set<fs::path> folders{staged};
    for (const auto& file : manifest.files) {
        for (auto folder = (staged / file.path).parent_path(); folder != staged; folder = folder.parent_path())
            folders.insert(folder);
    }
    for (const auto& folder : folders) {
        fs::create_directory(folder, error);
        if (error) throw std::system_error(error, "cannot create " + folder.string());
    }
    for (auto& file : manifest.files) {
        auto copy = staged / file.path;
        loop.serve();
        if (fetched_) {
            // A link keeps the download whole for a resume should this installation fail; a file
            // system without hard links gets a copy instead.
            auto fetchedFile = source_.directory / file.path;
            if (!fs::is_regular_file(fs::symlink_status(fetchedFile, error)))
                throw std::runtime_error(fetchedFile.string() + " is not a regular file: it is left alone");
            fs::create_hard_link(fetchedFile, copy, error);
            if (error) fs::copy_file(fetchedFile, copy, error);
            if (error) throw std::system_error(error, "cannot stage " + file.path);
            syncPath(copy, 0);
            auto expected = fetched_->sha256.find(file.path);
            file.sha256 = expected == fetched_->sha256.end() ? "" : expected->second;
        } else {
            file.sha256 = copier.copy(source_.directory / file.path, copy, file.size);
        }
        if (Sha256::ofFile(copy) != *file.sha256)
            throw std::runtime_error(fetched_ ? "checksum mismatch for " + file.path
                                              : "the copy of " + file.path + " differs from what was read: the disk is failing");
        file.modified = modificationTimeOf(copy);
    }
    cli::writeFileAtomically(staged / SpeechModelStore::manifestFileName, cli::Json(manifest).dump());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) syncDirectory(*folder);

    // The same check every later use of the model makes.
    auto installed = SpeechModelStore(staging.path()).installedModel(locale);
    if (!installed || installed->manifest != manifest)
        throw std::runtime_error("the copied " + locale + " speech model does not match its source");

    loop.serve();
    if (verify_) verify_(*installed, loop);
    loop.serve();
    swapIntoPlace(staged, modelsDirectory_ / locale, staging.path());
    syncDirectory(modelsDirectory_);
    if (fetched_) fs::remove_all(source_.directory, error);
    progress_.setFractionCompleted(1.0);
}

}  // namespace harkline
