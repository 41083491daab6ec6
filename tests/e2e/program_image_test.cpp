// What the built program carries besides its code: the manifest that keeps
// Windows from asking for elevation, and the version resource.
#include "support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::string ReadManifest(const std::wstring& program)
{
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) {
        return std::string();
    }
    std::string manifest;
    if (HRSRC resource = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        if (HGLOBAL loaded = LoadResource(image, resource)) {
            manifest.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(image, resource));
        }
    }
    FreeLibrary(image);
    return manifest;
}

std::wstring VersionString(const std::wstring& program, const wchar_t* name)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    std::vector<char> data(size);
    if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, data.data())) {
        return std::wstring();
    }
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(data.data(), query.c_str(), &value, &length) || length == 0) {
        return std::wstring();
    }
    return static_cast<const wchar_t*>(value);
}

TEST(ProgramImage, ManifestRunsAsInvokerOnSupportedSystems)
{
    const std::string manifest = ReadManifest(ProgramPath());
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"), std::string::npos);
}

TEST(ProgramImage, VersionResourceCarriesTheProjectVersion)
{
    EXPECT_EQ(VersionString(ProgramPath(), L"FileVersion"), QL_VERSION);
    EXPECT_EQ(VersionString(ProgramPath(), L"ProductVersion"), QL_VERSION);
    EXPECT_EQ(VersionString(ProgramPath(), L"OriginalFilename"), L"Postlude_WB_QL_install.exe");
}

} // namespace
