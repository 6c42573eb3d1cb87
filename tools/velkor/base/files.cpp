// files.cpp -- POSIX file access for velkor: mapped inputs, piecewise
// inputs, and outputs that appear under their name only when complete.
#include "files.h"

#include "errors.h"

#include <atomic>
#include <filesystem>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkor {

namespace fs = std::filesystem;

static std::string Quote(const std::string &s) { return "'" + s + "'"; }

static Failure ReadFailure(const std::string &what, const std::string &path, int err)
{
    return Failure(ExitCannotRead, "cannot read " + what + " " + Quote(path) + ": " + std::strerror(err));
}

static Failure WriteFailure(const std::string &path, int err)
{
    return Failure(ExitCannotWrite, "cannot write " + Quote(path) + ": " + std::strerror(err));
}

// Opens a regular file for reading; directories and devices are refused
// because mapping or sizing them means nothing here.
static int OpenRegular(const std::string &path, const std::string &what, uint64_t *size)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ReadFailure(what, path, errno);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        throw ReadFailure(what, path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        throw Failure(ExitCannotRead, "cannot read " + what + " " + Quote(path) + ": not a regular file");
    }
    *size = uint64_t(st.st_size);
    return fd;
}

MappedFile::MappedFile(const std::string &path, const std::string &what)
{
    int fd = OpenRegular(path, what, &size_);
    if (size_ > 0) {
        void *p = mmap(nullptr, size_t(size_), PROT_READ, MAP_PRIVATE, fd, 0);
        int err = errno;
        close(fd);
        if (p == MAP_FAILED)
            throw ReadFailure(what, path, err);
        data_ = static_cast<const uint8_t *>(p);
    } else {
        close(fd);
    }
}

MappedFile::~MappedFile()
{
    if (data_)
        munmap(const_cast<uint8_t *>(data_), size_t(size_));
}

InputFile::InputFile(const std::string &path, const std::string &what) : path_(path), what_(what)
{
    fd_ = OpenRegular(path, what, &size_);
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        close(fd_);
}

void InputFile::Read(uint8_t *buffer, size_t n)
{
    while (n > 0) {
        ssize_t got = read(fd_, buffer, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw ReadFailure(what_, path_, errno);
        if (got == 0)
            throw Failure(ExitCannotRead,
                          "cannot read " + what_ + " " + Quote(path_) + ": the file shrank while it was read");
        buffer += got;
        n -= size_t(got);
    }
}

uint64_t FileSize(const std::string &path, const std::string &what)
{
    uint64_t size;
    close(OpenRegular(path, what, &size));
    return size;
}

AtomicOutput::AtomicOutput(const std::string &path) : path_(path)
{
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        throw Failure(ExitCannotWrite, "cannot create output " + Quote(path) + ": " + std::strerror(errno));
    temp_ = name.data();
    // mkstemp makes the file private; give it the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

AtomicOutput::~AtomicOutput() { Abandon(); }

void AtomicOutput::Abandon()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        temp_.clear();
    }
}

void AtomicOutput::Write(const void *data, size_t n)
{
    WriteAt(size_, data, n);
}

void AtomicOutput::WriteAt(uint64_t offset, const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    uint64_t at = offset;
    while (n > 0) {
        ssize_t put = pwrite(fd_, p, n, off_t(at));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw WriteFailure(path_, put < 0 ? errno : ENOSPC);
        p += put;
        at += uint64_t(put);
        n -= size_t(put);
    }
    if (at > size_)
        size_ = at;
}

void AtomicOutput::Commit()
{
    if (fsync(fd_) != 0)
        throw WriteFailure(path_, errno);
    int rc = close(fd_);
    fd_ = -1;
    if (rc != 0)
        throw WriteFailure(path_, errno);
    if (rename(temp_.c_str(), path_.c_str()) != 0)
        throw WriteFailure(path_, errno);
    temp_.clear();
}

static std::atomic<int> StopSignal{0};

static void OnStopSignal(int sig) { StopSignal = sig; }

void CatchStopSignals()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

void ThrowIfStopped()
{
    if (int sig = StopSignal.load())
        throw Failure(ExitInterrupted, std::string("stopped by signal ") + std::to_string(sig) + " (" +
                                           strsignal(sig) + "); no output was written");
}

std::string ParentDirectory(const std::string &path)
{
    std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

std::string ResolvePath(const std::string &base, const std::string &path)
{
    if (fs::path(path).is_absolute() || base.empty() || base == ".")
        return path;
    return (fs::path(base) / path).string();
}

void MakeDirectory(const std::string &path)
{
    std::error_code e;
    fs::create_directories(path, e);
    if (e || !fs::is_directory(path, e))
        throw Failure(ExitCannotWrite, "cannot create directory " + Quote(path) + ": " +
                                           (e ? e.message() : std::string("not a directory")));
}

std::string MakeTemporaryDirectory(const std::string &purpose)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velkor-" + purpose + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (!mkdtemp(name.data()))
        throw Failure(ExitCannotWrite, "cannot create a temporary folder '" + pattern + "': " + std::strerror(errno));
    return name.data();
}

bool IsFile(const std::string &p)
{
    std::error_code e;
    return fs::is_regular_file(p, e);
}

bool IsDir(const std::string &p)
{
    std::error_code e;
    return fs::is_directory(p, e);
}

void CopyFile(const std::string &from, const std::string &to)
{
    MappedFile in(from, "file");
    AtomicOutput out(to);
    out.Write(in.data(), size_t(in.size()));
    out.Commit();
}

}  // namespace velkor
