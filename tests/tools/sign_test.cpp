// sign_test.cpp -- the tool reads a signed package where the setup program
// finds it, refuses signing options that cannot work before anything is
// written, and reports signatures it cannot check without passing them.
#include "tooltest.h"
#include "../support/pefake.h"

#include "errors.h"
#include "pkgread.h"

using namespace tooltest;

namespace {

const std::string Manifest = ManifestText("[]", "App", "Co").Component();

class SignTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        WriteBytes(dir / "setup.exe", pefake::Image(true, 2051));
        MakeCab(dir / "main.cab", Prose(3000));
        WriteText(dir / "app.toml", Manifest);
        Result r = Velkor({"build", "app.toml", "--stub", "setup.exe", "--desktop-stub", "-o", "plain.exe"}, dir);
        ASSERT_EQ(r.code, 0) << r.err;
        plain = ReadBytes(dir / "plain.exe");
        fakeSigned = pefake::Sign(plain);
        WriteBytes(dir / "fake-signed.exe", fakeSigned);
    }
    Bytes plain, fakeSigned;
};

}  // namespace

TEST_F(SignTest, ReadsASignedPackageWhereTheLoaderFindsIt)
{
    velkor::PackageInfo a = velkor::ReadPackage(plain.data(), plain.size(), velkor::ReadDepth::Decode);
    velkor::PackageInfo b = velkor::ReadPackage(fakeSigned.data(), fakeSigned.size(), velkor::ReadDepth::Decode);
    EXPECT_EQ(b.trailerOffset, plain.size() - 8);
    EXPECT_EQ(b.headerOffset, a.headerOffset);
    ASSERT_EQ(b.components.size(), 1u);
    EXPECT_EQ(b.components[0].payloadOffset, a.components[0].payloadOffset);
    velkor::CheckWithProgramLoader(fakeSigned.data(), fakeSigned.size(), b);

    // Every damage the loader meets on the way to the trailer is one the
    // tool reports too: the same rule, the same verdict.
    for (const pefake::SignedCase &c : pefake::SignedCases(fakeSigned, uint32_t(plain.size()))) {
        bool read = true;
        try {
            velkor::ReadPackage(c.file.data(), c.file.size(), velkor::ReadDepth::Header);
        } catch (const velkor::Damage &) {
            read = false;
        }
        if (c.expect == pefake::SignedCase::Loads)
            EXPECT_TRUE(read) << c.name;
        else if (c.expect == pefake::SignedCase::NotAPackage)
            EXPECT_FALSE(read) << c.name;
    }

    Bytes noTrailer = fakeSigned;
    noTrailer[plain.size() - 1] = '2';
    WriteBytes(dir / "no-trailer.exe", noTrailer);
    Result r = Velkor({"verify", "no-trailer.exe"}, dir);
    EXPECT_EQ(r.code, velkor::ExitDamaged);
    EXPECT_NE(r.err.find("a signed file, but no \"VKR1\" trailer"), std::string::npos) << r.err;
}

TEST_F(SignTest, ListAndVerifyReportTheSignature)
{
    Result r = Velkor({"list", "plain.exe"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Signature                not signed"), std::string::npos) << r.out;
    EXPECT_EQ(Velkor({"verify", "plain.exe", "--require-signature"}, dir).code, velkor::ExitSignature);

    // A table that is no signature osslsigncode can read: shown, never
    // taken for a good one.
    r = Velkor({"list", "fake-signed.exe"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("certificates   at " + std::to_string((plain.size() + 7) / 8 * 8)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("trailer        at " + std::to_string(plain.size() - 8)), std::string::npos) << r.out;
    EXPECT_EQ(Velkor({"verify", "fake-signed.exe"}, dir).code, 0);
    r = Velkor({"verify", "fake-signed.exe", "--require-signature"}, dir);
    EXPECT_EQ(r.code, velkor::ExitSignature);
    EXPECT_NE(r.err.find("could not be checked"), std::string::npos) << r.err;
}

TEST_F(SignTest, RefusesOptionsThatCannotSignAndLeavesNothing)
{
    WriteText(dir / "cert.pem", "not a certificate\n");
    WriteText(dir / "key.pem", "not a key\n");
    struct {
        const char *name;
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {"nothing to sign with", {"sign", "plain.exe", "-o", "out.exe"}, velkor::ExitUsage},
        {"certificate without key", {"sign", "plain.exe", "-o", "out.exe", "--sign", "cert.pem"}, velkor::ExitUsage},
        {"key without certificate", {"sign", "plain.exe", "-o", "out.exe", "--key", "key.pem"}, velkor::ExitUsage},
        {"both kinds", {"sign", "plain.exe", "-o", "out.exe", "--sign", "cert.pem", "--key", "key.pem", "--pkcs12", "a.p12"},
         velkor::ExitUsage},
        {"two passwords", {"sign", "plain.exe", "-o", "out.exe", "--pkcs12", "a.p12", "--password-env", "X", "--password-file", "p"},
         velkor::ExitUsage},
        {"password alone", {"build", "app.toml", "--stub", "setup.exe", "--desktop-stub", "-o", "out.exe", "--password-env", "X"},
         velkor::ExitUsage},
        {"unset variable", {"sign", "plain.exe", "-o", "out.exe", "--sign", "cert.pem", "--key", "key.pem", "--password-env",
                            "VELKOR_TEST_SURELY_UNSET"}, velkor::ExitUsage},
        {"missing PKCS#12 file", {"sign", "plain.exe", "-o", "out.exe", "--pkcs12", "missing.p12"}, velkor::ExitCannotRead},
        {"not a package", {"sign", "app.toml", "-o", "out.exe", "--sign", "cert.pem", "--key", "key.pem"}, velkor::ExitDamaged},
        {"a certificate osslsigncode refuses", {"sign", "plain.exe", "-o", "out.exe", "--sign", "cert.pem", "--key", "key.pem"},
         velkor::ExitSignature},
        {"a signed package as the stub", {"build", "app.toml", "--stub", "fake-signed.exe", "--desktop-stub", "-o", "out.exe"},
         velkor::ExitBadInput},
        {"build, then a refused certificate",
         {"build", "app.toml", "--stub", "setup.exe", "--desktop-stub", "-o", "out.exe", "--sign", "cert.pem", "--key", "key.pem"},
         velkor::ExitSignature},
    };
    Bytes signedStub = pefake::Sign(pefake::Image(false, 3000));
    WriteBytes(dir / "signed-stub.exe", signedStub);
    std::vector<std::string> before = Listing(dir);
    Result r = Velkor({"build", "app.toml", "--stub", "signed-stub.exe", "--desktop-stub", "-o", "out.exe"}, dir);
    EXPECT_EQ(r.code, velkor::ExitBadInput);
    EXPECT_NE(r.err.find("is signed"), std::string::npos) << r.err;
    for (auto &c : cases) {
        Result r = Velkor(c.args, dir);
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.err;
        EXPECT_EQ(Listing(dir), before) << c.name;
    }
    EXPECT_EQ(ReadBytes(dir / "plain.exe"), plain);
}
