// sign.h -- Authenticode signing of a built package with osslsigncode, and
// what `list` and `verify` say about a file's signature.  The password of a
// key or PKCS#12 file comes from a file or an environment variable and is
// handed to osslsigncode on its standard input, never on a command line.
#pragma once

#include "build.h"

#include <cstdint>
#include <string>

namespace velkor {

struct SignOptions {
    std::string cert, key;        // PEM or DER certificate chain and its private key
    std::string pkcs12;           // or both in one PKCS#12 file
    std::string passwordFile;     // first line is the password
    std::string passwordEnv;      // name of the variable that holds it
    bool Wanted() const { return !cert.empty() || !key.empty() || !pkcs12.empty(); }
};

// Refuses incomplete or conflicting options with Failure(ExitUsage).
void CheckSignOptions(const SignOptions &options);

// Signs the package at `in` into `out` (which may be `in`): osslsigncode
// writes beside `out`, the result must still be the same package to this
// tool and to the setup program's loader, and only then takes the name
// `out`.  An existing signature is replaced.  Throws Failure: ExitCannotRead,
// ExitDamaged (not a package), ExitSignFailed, ExitCannotWrite; nothing is
// left beside `out` on any failure.
void SignPackageFile(const std::string &in, const std::string &out, const SignOptions &options);

// `velkor build` followed by signing: the unsigned package is written
// beside `outPath` under a temporary name and removed afterwards, so
// `outPath` appears only signed.  The summary's size is the signed file's.
BuildSummary BuildSignedPackageFile(const Manifest &manifest, const std::string &stubPath,
                                    const std::string &outPath, unsigned jobs, const SignOptions &options);

struct SignatureInfo {
    bool isSigned = false;        // the PE security entry names a certificate table at the end
    uint64_t tableOffset = 0, tableSize = 0;
    bool checked = false;         // osslsigncode read the signature
    bool matches = false;         // the digest it carries is the file's digest
    bool trusted = false;         // the signer's chain verifies against the system's CAs
    std::string signer;           // the signer certificate's subject
    std::string problem;          // why it does not match or could not be checked
};

// One line for `list` and `verify`: "not signed", or who signed it and
// whether it matches the file.
std::string DescribeSignature(const SignatureInfo &s);

// Looks at the signature of the file `path`, whose bytes are `data`.
SignatureInfo InspectSignature(const std::string &path, const uint8_t *data, uint64_t size);

// The "signature" member of list's and verify's JSON.
class JsonWriter;
void SignatureJson(JsonWriter &j, const SignatureInfo &sig);

// "path: " and DescribeSignature of the file just signed, for printing.
std::string SignedFileLine(const std::string &path);

}  // namespace velkor
