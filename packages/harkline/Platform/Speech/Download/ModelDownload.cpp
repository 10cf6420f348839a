#include "harkline/Platform/Speech/Download/ModelDownload.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harkline/Platform/Speech/Models/FileDigest.h"

namespace harkline {

namespace fs = std::filesystem;

// Counts the bytes of the model that are in place, for the progress callback.
class DownloadCounter {
public:
    DownloadCounter(const ModelDownload::ProgressCallback& progress, std::uintmax_t total, std::uintmax_t kept)
        : progress_(progress), total_(total) {
        report(kept);
    }

    void add(std::uintmax_t bytes) { report(done_ + bytes); }
    void takeBack(std::uintmax_t bytes) { report(done_ - bytes); }

private:
    void report(std::uintmax_t done) {
        done_ = done;
        if (progress_) progress_(done_, total_);
    }

    const ModelDownload::ProgressCallback& progress_;
    std::uintmax_t total_;
    std::uintmax_t done_ = 0;
};

namespace {

constexpr std::size_t readChunkSize = 1 << 20;

[[noreturn]] void failWithErrno(const std::string& what, const fs::path& path, const std::string& name) {
    int error = errno;
    if (error == ENOSPC || error == EDQUOT)
        throw ModelDownloadError(ModelDownloadFailure::noSpace,
                                 "no space left on device for " + name + " in " + path.parent_path().string());
    throw ModelDownloadError(ModelDownloadFailure::file, "cannot " + what + " " + path.string() + ": " + std::strerror(error));
}

constexpr const char* ownFilesOnly = ": harkline writes only files of its own there";
constexpr const char* ownFolderOnly = ": harkline downloads only into a folder of its own";

ModelDownloadError notOurOwn(const fs::path& path, const std::string& what, const char* why) {
    return ModelDownloadError(ModelDownloadFailure::file, path.string() + " is " + what + why);
}

bool isOwnedByUser(const struct stat& status) { return status.st_uid == ::geteuid(); }

}  // namespace

// The download folder, opened once: every file in it is reached through this descriptor
// and never through a link, so nothing planted in the folder redirects a write outside it.
class DownloadFolder {
public:
    explicit DownloadFolder(fs::path path) : path_(std::move(path)) {
        std::error_code error;
        fs::create_directories(path_, error);
        if (error) throw ModelDownloadError(ModelDownloadFailure::file, "cannot create " + path_.string() + ": " + error.message());
        fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0 && (errno == ELOOP || errno == ENOTDIR))
            throw notOurOwn(path_, "a symbolic link or not a folder", ownFolderOnly);
        if (fd_ < 0) failWithErrno("open", path_, path_.filename());
        struct stat status {};
        if (::fstat(fd_, &status) != 0 || !isOwnedByUser(status)) {
            ::close(fd_);
            throw notOurOwn(path_, "not a folder of this user", ownFolderOnly);
        }
    }
    ~DownloadFolder() { ::close(fd_); }
    DownloadFolder(const DownloadFolder&) = delete;
    DownloadFolder& operator=(const DownloadFolder&) = delete;

    const fs::path& path() const { return path_; }
    fs::path pathOf(const std::string& name) const { return path_ / name; }

    // A regular file of this user, created when missing; a link or anything else is refused.
    int openFile(const std::string& name, const std::string& shownName) const {
        int fd = ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0 && errno == ELOOP) throw notOurOwn(pathOf(name), "a symbolic link", ownFilesOnly);
        if (fd < 0) failWithErrno("create", pathOf(name), shownName);
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !isOwnedByUser(status)) {
            ::close(fd);
            throw notOurOwn(pathOf(name), "not a regular file of this user", ownFilesOnly);
        }
        return fd;
    }

    // Whether `name` is there; anything but a regular file of this user is refused.
    bool holdsFile(const std::string& name) const {
        struct stat status {};
        if (::fstatat(fd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) return false;
            failWithErrno("read", pathOf(name), name);
        }
        if (S_ISLNK(status.st_mode)) throw notOurOwn(pathOf(name), "a symbolic link", ownFilesOnly);
        if (!S_ISREG(status.st_mode) || !isOwnedByUser(status))
            throw notOurOwn(pathOf(name), "not a regular file of this user", ownFilesOnly);
        return true;
    }

    void rename(const std::string& from, const std::string& to, const std::string& shownName) const {
        if (::renameat(fd_, from.c_str(), fd_, to.c_str()) != 0) failWithErrno("rename", pathOf(from), shownName);
    }

    void remove(const std::string& name) const { ::unlinkat(fd_, name.c_str(), 0); }

private:
    fs::path path_;
    int fd_ = -1;
};

namespace {

// Held while a download writes into the folder: two at once would interleave their bytes
// in the same partial files. The kernel lets go of it when the process ends, however.
class FolderLock {
public:
    explicit FolderLock(const DownloadFolder& folder) {
        fd_ = folder.openFile(".lock", ".lock");
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            throw ModelDownloadError(ModelDownloadFailure::file,
                                     "another download into " + folder.path().string() + " is running");
        }
    }
    ~FolderLock() { ::close(fd_); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

}  // namespace

// One file being fetched: NAME.part with the running hash of its bytes.
class PartialFile final : public FetchedBodyReceiver {
public:
    PartialFile(const DownloadFolder& folder, const CatalogModelFile& file, DownloadCounter& counter,
                InstallationLoop& loop)
        : folder_(folder),
          name_(ModelDownload::partialName(file.name)),
          path_(folder.pathOf(name_)),
          file_(file),
          counter_(counter) {
        fd_ = folder_.openFile(name_, file_.name);
        struct stat status {};
        if (::fstat(fd_, &status) != 0) failWithErrno("read", path_, file_.name);
        size_ = static_cast<std::uintmax_t>(status.st_size);
        if (size_ > file_.size) {
            emptyFile();
            size_ = 0;
        }
        hashExistingBytes(loop);
    }
    ~PartialFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    std::uintmax_t size() const { return size_; }

    void bodyStartsAt(std::uintmax_t offset) override {
        if (offset == 0 && size_ > 0) truncate();
    }

    void receive(const char* data, std::size_t count) override {
        if (size_ + count > file_.size) throw wrongBytes("sends more than the " + std::to_string(file_.size) + " bytes");
        append(data, count);
    }

    void truncate() {
        emptyFile();
        counter_.takeBack(size_);
        size_ = 0;
        hash_.reset();
    }

    bool isWhole() const { return size_ == file_.size && hash_.hexDigest() == file_.sha256; }

    // Checks the whole file and gives it its final name. No sync: every run hashes what
    // the folder holds again, and the installation syncs what it puts in the store.
    void complete() {
        if (size_ != file_.size)
            throw wrongBytes("ended after " + std::to_string(size_) + " of the " + std::to_string(file_.size) + " bytes");
        if (hash_.hexDigest() != file_.sha256) {
            discard();
            throw ModelDownloadError(ModelDownloadFailure::content, "checksum mismatch for " + file_.name);
        }
        ::close(fd_);
        fd_ = -1;
        folder_.rename(name_, file_.name, file_.name);
    }

    // Bytes that are not the catalogue's file: nothing of them is worth resuming from.
    ModelDownloadError wrongBytes(const std::string& what) {
        discard();
        return ModelDownloadError(ModelDownloadFailure::content,
                                  file_.url + " " + what + " that the catalogue gives for " + file_.name);
    }

private:
    void emptyFile() {
        if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) failWithErrno("truncate", path_, file_.name);
    }

    void discard() { folder_.remove(name_); }

    // Kept bytes were counted when the download started.
    void hashExistingBytes(InstallationLoop& loop) {
        std::vector<char> buffer(readChunkSize);
        std::uintmax_t hashed = 0;
        while (hashed < size_) {
            loop.serve();
            ssize_t count = ::read(fd_, buffer.data(), buffer.size());
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) failWithErrno("read", path_, file_.name);
            if (count == 0) break;
            hash_.update(buffer.data(), static_cast<std::size_t>(count));
            hashed += static_cast<std::uintmax_t>(count);
        }
        if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) failWithErrno("read", path_, file_.name);
    }

    void append(const char* data, std::size_t count) {
        std::size_t written = 0;
        while (written < count) {
            ssize_t result = ::write(fd_, data + written, count - written);
            if (result < 0 && errno == EINTR) continue;
            if (result < 0) failWithErrno("write", path_, file_.name);
            // What reached the file counts, so that resuming asks for exactly the rest.
            hash_.update(data + written, static_cast<std::size_t>(result));
            written += static_cast<std::size_t>(result);
            size_ += static_cast<std::uintmax_t>(result);
            counter_.add(static_cast<std::uintmax_t>(result));
        }
    }

    const DownloadFolder& folder_;
    std::string name_;
    fs::path path_;
    const CatalogModelFile& file_;
    DownloadCounter& counter_;
    int fd_ = -1;
    std::uintmax_t size_ = 0;
    Sha256 hash_;
};

void ModelDownload::fetchRest(const CatalogModelFile& file, PartialFile& part, InstallationLoop& loop) {
    if (part.size() >= file.size) return;
    try {
        fetcher_.fetch(file.url, part.size(), part, loop);
    } catch (const ModelDownloadError& failure) {
        // A range past the end of what the server has: start the file over once.
        if (failure.httpStatus() != 416 || part.size() == 0) throw;
        part.truncate();
        fetcher_.fetch(file.url, 0, part, loop);
    }
}

std::uintmax_t ModelDownload::keptBytes(const fs::path& folder, const CatalogModel& model) {
    std::uintmax_t kept = 0;
    // A link is no file of ours: it counts for nothing, and the download refuses it.
    const auto sizeOf = [](const fs::path& path) -> std::optional<std::uintmax_t> {
        std::error_code error;
        if (!fs::is_regular_file(fs::symlink_status(path, error))) return std::nullopt;
        const auto size = fs::file_size(path, error);
        return error ? std::nullopt : std::optional<std::uintmax_t>(size);
    };
    for (const auto& file : model.files) {
        auto size = sizeOf(folder / file.name);
        if (!size) size = sizeOf(folder / partialName(file.name));
        // A part longer than the file is started over.
        if (size && *size <= file.size) kept += *size;
    }
    return kept;
}

fs::path ModelDownload::folderFor(const fs::path& modelsDirectory, const std::string& locale) {
    return modelsDirectory / ("." + locale + ".download");
}

void ModelDownload::run(const ProgressCallback& progress, InstallationLoop& loop) {
    DownloadFolder folder(folder_);
    FolderLock lock(folder);
    DownloadCounter counter(progress, model_.totalBytes(), keptBytes(folder_, model_));
    try {
        for (const auto& file : model_.files) fetchFile(folder, file, counter, loop);
    } catch (const ModelDownloadError& failure) {
        // A resume is not worth a full disk.
        if (failure.failure() == ModelDownloadFailure::noSpace)
            for (const auto& file : model_.files) folder.remove(partialName(file.name));
        throw;
    }
}

void ModelDownload::fetchFile(const DownloadFolder& folder, const CatalogModelFile& file, DownloadCounter& counter,
                              InstallationLoop& loop) {
    // A file that has its final name was verified when it got it; check it again, as it
    // may have been changed since, and fetch it again when it was.
    if (folder.holdsFile(file.name)) folder.rename(file.name, partialName(file.name), file.name);
    PartialFile part(folder, file, counter, loop);
    bool keptFromEarlierRun = part.size() > 0;
    fetchRest(file, part, loop);
    // What an earlier run kept went bad (say, a power loss before the disk had it all):
    // fetch the file whole once more rather than fail.
    if (keptFromEarlierRun && !part.isWhole()) {
        part.truncate();
        fetchRest(file, part, loop);
    }
    part.complete();
}

}  // namespace harkline
