// packagefile_test.cpp -- the loader on the device's own file calls: a setup
// file that is missing or opened by someone else without sharing, and the
// same package served from memory instead.  A load leaves the file closed,
// so it can be deleted afterwards.
#include "support.h"

using namespace installtest;

namespace {

struct SetupFile : ::testing::Test {
    void SetUp() override
    {
        VHeapFailAt(0);
        path = DeviceRoot() + L"setupfile.bin";
        file = Assemble([] {
            velkor::PackageRecipe recipe = ToolPackage(1);
            recipe.components.push_back({u"Main", Pattern(1000, 41), true, true});
            return recipe;
        }());
        ASSERT_TRUE(WriteBytes(path, file.bytes));
        lstrcpynW(ModulePath, path.c_str(), MODULE_PATH_UNITS);
        before = VHeapLiveBlocks();
    }
    void TearDown() override
    {
        UseFilePackages();
        DeleteFileW(path.c_str());
    }
    LoadResult LoadAndRelease()
    {
        LoadResult r = LoadPackage();
        ReleasePackage();
        EXPECT_EQ(VHeapLiveBlocks(), before) << "heap blocks left behind";
        return r;
    }
    std::wstring path;
    installtest::PackageFile file;
    long before = 0;
};

TEST_F(SetupFile, MissingOrHeldWithoutSharing)
{
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LoadAndRelease(), LoadCannotOpen);
    CloseHandle(held);
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_EQ(LoadAndRelease(), LoadCannotOpen);
}

TEST_F(SetupFile, FromMemoryAsFromTheFile)
{
    ASSERT_EQ(LoadPackage(), LoadSucceeded);
    std::wstring name = Package.Components[0].Name;
    uint32_t payload = Package.Components[0].PayloadOffset;
    ReleasePackage();

    UseMemoryPackage(file.bytes.data(), file.bytes.size());
    ModulePath[0] = 0;
    ASSERT_EQ(LoadPackage(), LoadSucceeded);
    EXPECT_EQ(std::wstring(Package.Components[0].Name), name);
    EXPECT_EQ(Package.Components[0].PayloadOffset, payload);
    ReleasePackage();
    UseFilePackages();
    EXPECT_EQ(VHeapLiveBlocks(), before);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the file stayed open";
}

}  // namespace
