// files.h -- reading inputs and writing outputs for velkor.  Outputs are
// written to a temporary file beside the target and renamed into place, so a
// failure (or an interrupt) never leaves a half-written file under the
// target's name.  POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velkor {

// A whole input file mapped read-only.  `what` names the file's role in
// messages ("manifest", "package", ...).  Throws Failure(ExitCannotRead).
// Files held open are not copied: a copy would close them twice.
struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy &) = delete;
    NoCopy &operator=(const NoCopy &) = delete;
};

class MappedFile : NoCopy {
public:
    MappedFile(const std::string &path, const std::string &what);
    ~MappedFile();
    const uint8_t *data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    const uint8_t *data_ = nullptr;
    uint64_t size_ = 0;
};

// An input read piece by piece (component CABs, which may be large).
class InputFile : NoCopy {
public:
    InputFile(const std::string &path, const std::string &what);
    ~InputFile();
    uint64_t size() const { return size_; }
    // Reads exactly n bytes at the current position; throws on a short read
    // (the file shrank while we read it) or an I/O error.
    void Read(uint8_t *buffer, size_t n);

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_, what_;
};

// The size of a file, or throws Failure(ExitCannotRead) naming `what`.
uint64_t FileSize(const std::string &path, const std::string &what);

// An output written under a temporary name and renamed on Commit.  The
// destructor removes the temporary file unless Commit succeeded.  Throws
// Failure(ExitCannotWrite).
class AtomicOutput : NoCopy {
public:
    explicit AtomicOutput(const std::string &path);
    ~AtomicOutput();
    void Write(const void *data, size_t n);
    void WriteAt(uint64_t offset, const void *data, size_t n);
    uint64_t size() const { return size_; }
    void Commit();

private:
    void Abandon();
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_, temp_;
};

// SIGINT, SIGTERM and SIGHUP only set a flag; long loops call
// ThrowIfStopped, whose Failure unwinds through the AtomicOutput
// destructors, so an interrupted run leaves no temporary file behind.
void CatchStopSignals();
void ThrowIfStopped();   // Failure(ExitInterrupted)

std::string ParentDirectory(const std::string &path);
// Joins a path given relative to `base` (a directory); absolute paths stay.
std::string ResolvePath(const std::string &base, const std::string &path);
void MakeDirectory(const std::string &path);   // and its parents; throws ExitCannotWrite
// A new private folder "velkor-PURPOSE-XXXXXX" under $TMPDIR (or /tmp);
// throws Failure(ExitCannotWrite).
std::string MakeTemporaryDirectory(const std::string &purpose);
bool IsFile(const std::string &path);
bool IsDir(const std::string &path);
// Copies a file, replacing `to` only when complete.
void CopyFile(const std::string &from, const std::string &to);

}  // namespace velkor
