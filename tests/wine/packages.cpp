// packages.cpp -- setup programs with a package for the end-to-end tests.
#include "packages.h"
#include "robot.h"

#include <windows.h>

#include <mutex>

namespace robot {

static velkor::Bytes ReadWholeFile(const std::wstring &path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        throw Failure("cannot open " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")");
    LARGE_INTEGER size;
    velkor::Bytes bytes;
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart < (1LL << 30);
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() || (ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr) && got == bytes.size());
    }
    CloseHandle(f);
    if (!ok)
        throw Failure("cannot read " + Narrow(path));
    return bytes;
}

std::wstring SetupExePath() { return BinDir() + L"setup.exe"; }

const velkor::Bytes &SetupImage()
{
    static std::once_flag once;
    static velkor::Bytes image;
    std::call_once(once, [] { image = ReadWholeFile(SetupExePath()); });
    return image;
}

std::wstring WriteDeviceFile(const std::wstring &fileName, const velkor::Bytes &bytes)
{
    std::wstring path = DeviceRoot() + fileName;
    if (!testsupport::WriteBytes(path, bytes))
        throw Failure("cannot write " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")");
    return path;
}

std::wstring WritePackageExe(const velkor::PackageRecipe &recipe, const std::wstring &fileName)
{
    return WriteDeviceFile(fileName, velkor::BuildPackage(SetupImage(), recipe, 1));
}

velkor::PackageRecipe SamplePackage(uint8_t pageFlags, uint8_t useDefaultLocation, bool withComponent)
{
    velkor::PackageRecipe recipe = testsupport::ToolRecipe(pageFlags, useDefaultLocation);
    if (withComponent) {
        static std::once_flag once;
        static velkor::Bytes cab;
        std::call_once(once, [] { cab = ReadWholeFile(FixturesDir() + L"one.cab"); });
        recipe.components.push_back({u"Main program", cab, true, true});
    }
    return recipe;
}

}  // namespace robot
