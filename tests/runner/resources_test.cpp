// This test program links the program's resource objects, so it reads back
// what talvor_app.exe carries.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/resources/resource.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_resource;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

std::string ResourceBytes(const wchar_t* name, const wchar_t* type) {
  HRSRC found = FindResourceW(nullptr, name, type);
  if (found == nullptr) return std::string();
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = LockResource(loaded);
  return std::string(static_cast<const char*>(data), SizeofResource(nullptr, found));
}

TEST(ProgramResources, IconGroupHasSevenThirtyTwoBitSquareImages) {
  const std::string group = ResourceBytes(MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
  ASSERT_EQ(header->count, 7);
  ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + 7 * sizeof(GroupIconEntry));
  const auto* entries =
      reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader));
  std::vector<int> sizes;
  for (int i = 0; i < 7; ++i) {
    const int width = entries[i].width == 0 ? 256 : entries[i].width;
    const int height = entries[i].height == 0 ? 256 : entries[i].height;
    EXPECT_EQ(width, height);
    EXPECT_EQ(entries[i].bit_count, 32);
    sizes.push_back(width);
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST(ProgramResources, EveryIconSizeLoadsAtItsOwnSize) {
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    talvor::UniqueIcon icon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                          MAKEINTRESOURCEW(IDI_APP_ICON),
                                                          IMAGE_ICON, size, size, 0)));
    ASSERT_TRUE(icon) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon.get(), &info)) << size;
    talvor::UniqueGdiObject colour(info.hbmColor);
    talvor::UniqueGdiObject mask(info.hbmMask);
    BITMAP bitmap = {};
    ASSERT_TRUE(GetObjectW(colour.get(), sizeof(bitmap), &bitmap)) << size;
    EXPECT_EQ(bitmap.bmWidth, size);
    EXPECT_EQ(bitmap.bmHeight, size);
  }
}

TEST(ProgramResources, ManifestRunsAsInvokerAndPerMonitorAware) {
  const std::string manifest = ResourceBytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty());
  for (const char* expected :
       {"<assemblyIdentity name=\"com.talvor.talvor_app\" version=\"1.0.0.0\" "
        "processorArchitecture=\"amd64\" type=\"win32\"/>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        ">PerMonitorV2</dpiAwareness>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) {
    EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
  }
}

std::wstring VersionString(const std::vector<BYTE>& block, const std::wstring& name) {
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation)) {
    return L"<no translation>";
  }
  wchar_t key[128];
  swprintf(key, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
           translation->code_page, name.c_str());
  wchar_t* value = nullptr;
  if (!VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return value;
}

TEST(ProgramResources, VersionBlockNamesTheProduct) {
  const std::wstring program = ModuleFilePath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Eu);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Eu);

  EXPECT_EQ(VersionString(block, L"FileDescription"), L"Talvor VPN");
  EXPECT_EQ(VersionString(block, L"ProductName"), L"Talvor VPN");
  EXPECT_EQ(VersionString(block, L"InternalName"), L"talvor_app");
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"talvor_app.exe");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.0.0+14");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.0.0+14");
}

}  // namespace
