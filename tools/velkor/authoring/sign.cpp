// sign.cpp -- runs osslsigncode to sign and to read a signature.  Signing
// writes to a name reserved beside the output and renames only a result
// that is still the same package; reading a signature never fails the
// command, it only says what it found.
#include "sign.h"

#include "errors.h"
#include "files.h"
#include "json.h"
#include "pkgread.h"
#include "process.h"

#include "format.h"
#include "trailer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velkor {

namespace {

const char Signer[] = "osslsigncode";

// Runs osslsigncode with `input` (a password, or nothing) on its standard
// input, its output captured.
ProcessResult Run(const std::vector<std::string> &args, const std::string &input)
{
    ProcessRequest request;
    request.args = args;
    request.input = input;
    request.hasInput = true;
    request.interruptible = true;
    return RunProcess(request, ExitSignature);
}

// The first line that looks like a reason, for a one-line message.
std::string Reason(const std::string &output)
{
    std::string fallback;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line == "Failed")
            continue;
        if (line.find("error:") == std::string::npos)
            return line;
        if (fallback.empty())
            fallback = line;
    }
    return fallback.empty() ? "no reason given" : fallback;
}

// The value after "label:" on the first line that has it, trimmed.
std::string Field(const std::string &output, const std::string &label, size_t from = 0)
{
    size_t at = output.find(label, from);
    if (at == std::string::npos)
        return "";
    size_t colon = output.find(':', at + label.size());
    size_t end = output.find('\n', at);
    if (colon == std::string::npos || (end != std::string::npos && colon > end))
        return "";
    std::string value = output.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    size_t first = value.find_first_not_of(" \t");
    size_t last = value.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : value.substr(first, last - first + 1);
}

std::string Password(const SignOptions &o)
{
    if (!o.passwordEnv.empty()) {
        const char *value = std::getenv(o.passwordEnv.c_str());
        if (!value)
            throw Failure(ExitUsage, "the environment variable " + o.passwordEnv + " named by --password-env is not set");
        return value;
    }
    MappedFile f(o.passwordFile, "password file");
    std::string text(reinterpret_cast<const char *>(f.data()), size_t(f.size()));
    return text.substr(0, text.find_first_of("\r\n"));
}

// A name beside `target` that nothing else uses: a file reserved with
// mkstemp, and the name osslsigncode writes (it refuses an existing file).
// Both are removed unless the result was renamed into place.
class Scratch {
public:
    explicit Scratch(const std::string &target, const char *suffix = ".signed")
    {
        std::string pattern = target + ".tmp-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            throw Failure(ExitCannotWrite, "cannot create output '" + target + "': " + std::strerror(errno));
        close(fd);
        reserved_ = name.data();
        path_ = reserved_ + suffix;
    }
    ~Scratch()
    {
        unlink(reserved_.c_str());
        if (!path_.empty())
            unlink(path_.c_str());
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    const std::string &path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::string reserved_, path_;
};

void SyncFile(const std::string &path, const std::string &target)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        int err = errno;
        if (fd >= 0)
            close(fd);
        throw Failure(ExitCannotWrite, "cannot write '" + target + "': " + std::strerror(err));
    }
    close(fd);
}

// The bytes of the package part of a file: from the start to the end of the
// trailer (aEnd, bEnd).  Signing may change only the PE checksum and the
// security entry inside it, and append the alignment and the certificate
// table.
void CheckSameTo(const uint8_t *a, uint64_t aEnd, const uint8_t *b, uint64_t bEnd, const std::string &in)
{
    uint64_t differing = 0;
    if (aEnd == bEnd)
        for (uint64_t i = 0; i < aEnd; ++i)
            differing += a[i] != b[i];
    // The checksum (4 bytes) and the security entry (8 bytes).
    if (aEnd != bEnd || differing > 12)
        throw Failure(ExitSignature, "osslsigncode changed the package while signing '" + in + "'; nothing was written");
}

}  // namespace

void CheckSignOptions(const SignOptions &o)
{
    bool pair = !o.cert.empty() || !o.key.empty();
    if (pair && !o.pkcs12.empty())
        throw Failure(ExitUsage, "give either --sign CERT with --key KEY, or --pkcs12 FILE, not both");
    if (pair && (o.cert.empty() || o.key.empty()))
        throw Failure(ExitUsage, o.cert.empty() ? "--key needs --sign CERT" : "--sign needs --key KEY");
    if (!o.passwordFile.empty() && !o.passwordEnv.empty())
        throw Failure(ExitUsage, "give the password either with --password-file or with --password-env");
    if ((!o.passwordFile.empty() || !o.passwordEnv.empty()) && !o.Wanted())
        throw Failure(ExitUsage, "a password is only used with --sign/--key or --pkcs12");
}

void SignPackageFile(const std::string &in, const std::string &out, const SignOptions &o)
{
    CheckSignOptions(o);
    if (!o.Wanted())
        throw Failure(ExitUsage, "nothing to sign with: give --sign CERT --key KEY, or --pkcs12 FILE");
    MappedFile input(in, "package");
    uint64_t inputEnd;
    {
        PackageInfo p = ReadPackage(input.data(), input.size(), ReadDepth::Walk);
        CheckWithProgramLoader(input.data(), input.size(), p);
        inputEnd = p.trailerOffset + TRAILER_SIZE;
    }
    for (const std::string *f : {&o.cert, &o.key, &o.pkcs12})
        if (!f->empty())
            FileSize(*f, f == &o.cert ? "certificate" : f == &o.key ? "private key" : "PKCS#12 file");

    std::vector<std::string> args = {Signer, "sign"};
    if (!o.pkcs12.empty())
        args.insert(args.end(), {"-pkcs12", o.pkcs12});
    else
        args.insert(args.end(), {"-certs", o.cert, "-key", o.key});
    std::string password;
    if (!o.passwordFile.empty() || !o.passwordEnv.empty()) {
        password = Password(o);
        // "/dev/stdin", not "-": osslsigncode before 2.9 knows only file names.
        args.insert(args.end(), {"-readpass", "/dev/stdin"});
    }
    // A given build time makes the signing time, so a rebuild signs alike.
    if (const char *epoch = std::getenv("SOURCE_DATE_EPOCH"))
        if (*epoch && std::strspn(epoch, "0123456789") == std::strlen(epoch))
            args.insert(args.end(), {"-time", epoch});

    Scratch scratch(out);
    args.insert(args.end(), {"-h", "sha256", "-in", in, "-out", scratch.path()});
    ProcessResult run = Run(args, password);
    ThrowIfStopped();
    if (!run.started)
        throw Failure(ExitSignature, "cannot run osslsigncode (install it: scripts/deps.sh)");
    if (run.status != 0)
        throw Failure(ExitSignature, "osslsigncode could not sign '" + in + "': " + Reason(run.output));

    {
        MappedFile signedFile(scratch.path(), "signed package");
        PackageReader reader;
        OpenBufferReader(&reader, signedFile.data(), uint32_t(std::min<uint64_t>(signedFile.size(), 0xFFFFFFFFull)));
        uint32_t at = 0;
        if (signedFile.size() > 0xFFFFFFFFull || FindTrailer(&reader, &at) != TrailerBeforeCertificates)
            throw Failure(ExitSignature, "the signed file would pass 4 GiB or its package cannot be found; nothing was written");
        CheckSameTo(input.data(), inputEnd, signedFile.data(), uint64_t(at) + TRAILER_SIZE, in);
        PackageInfo p = ReadPackage(signedFile.data(), signedFile.size(), ReadDepth::Walk);
        CheckWithProgramLoader(signedFile.data(), signedFile.size(), p);
    }
    mode_t mask = umask(0);
    umask(mask);
    chmod(scratch.path().c_str(), 0666 & ~mask);
    SyncFile(scratch.path(), out);
    if (rename(scratch.path().c_str(), out.c_str()) != 0)
        throw Failure(ExitCannotWrite, "cannot write '" + out + "': " + std::strerror(errno));
    scratch.Keep();
}

BuildSummary BuildSignedPackageFile(const Manifest &m, const std::string &stubPath, const std::string &outPath,
                                    unsigned jobs, const SignOptions &options)
{
    CheckSignOptions(options);
    Scratch unsignedFile(outPath, ".unsigned");
    BuildSummary summary = BuildPackageFile(m, stubPath, unsignedFile.path(), jobs);
    SignPackageFile(unsignedFile.path(), outPath, options);
    summary.fileSize = FileSize(outPath, "signed package");
    return summary;
}

std::string SignedFileLine(const std::string &path)
{
    MappedFile f(path, "signed package");
    return path + ": " + DescribeSignature(InspectSignature(path, f.data(), f.size()));
}

std::string DescribeSignature(const SignatureInfo &s)
{
    if (!s.isSigned)
        return "not signed";
    std::string who = s.signer.empty() ? "signed" : "signed by " + s.signer;
    if (!s.checked)
        return who + "; " + s.problem;
    if (!s.matches)
        return who + "; the signature does not match: " + s.problem;
    return who + "; the signature matches the file" +
           (s.trusted ? "" : " (the signer's certificate is not one this machine trusts)");
}

SignatureInfo InspectSignature(const std::string &path, const uint8_t *data, uint64_t size)
{
    SignatureInfo s;
    PackageReader reader;
    OpenBufferReader(&reader, data, uint32_t(std::min<uint64_t>(size, 0xFFFFFFFFull)));
    CertificateTable table;
    if (size > 0xFFFFFFFFull || !FindCertificateTable(&reader, &table))
        return s;
    s.isSigned = true;
    s.tableOffset = table.TableOffset;
    s.tableSize = table.TableSize;

    ProcessResult run = Run({Signer, "verify", "-in", path}, "");
    if (!run.started) {
        s.problem = "not checked: cannot run osslsigncode";
        return s;
    }
    std::string current = Field(run.output, "Current message digest");
    std::string calculated = Field(run.output, "Calculated message digest");
    size_t space = calculated.find(' ');
    if (space != std::string::npos)   // "... MISMATCH!!!"
        calculated.resize(space);
    size_t signer = run.output.find("Signer's certificate");
    if (signer != std::string::npos)
        s.signer = Field(run.output, "Subject", signer);
    if (current.empty() || calculated.empty()) {
        s.problem = "osslsigncode cannot read the signature: " + Reason(run.output);
        return s;
    }
    s.checked = true;
    s.matches = current == calculated;
    s.trusted = run.output.find("Signature verification: ok") != std::string::npos;
    if (!s.matches)
        s.problem = "the file has changed since it was signed (signed digest " + current + ", file digest " +
                    calculated + ")";
    return s;
}

void SignatureJson(JsonWriter &j, const SignatureInfo &sig)
{
    j.Key("signature").BeginObject().Key("signed").Bool(sig.isSigned);
    if (sig.isSigned) {
        j.Key("certificates_offset").Number(sig.tableOffset).Key("certificates_size").Number(sig.tableSize);
        j.Key("signer").String(sig.signer).Key("checked").Bool(sig.checked);
        j.Key("matches").Bool(sig.matches).Key("trusted").Bool(sig.trusted);
        if (!sig.problem.empty())
            j.Key("problem").String(sig.problem);
    }
    j.EndObject();
}

}  // namespace velkor
