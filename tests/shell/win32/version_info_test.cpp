// What Windows shows in the Properties of both programs and in the Task Manager: the
// VERSIONINFO resource made from the project's version.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// A path that CMake gave as a Unix path is reached through Wine's Z: drive.
std::wstring windowsPath(const char* path) {
    std::wstring wide(path, path + std::char_traits<char>::length(path));
    for (auto& c : wide) {
        c = c == L'/' ? L'\\' : c;
    }
    return wide.rfind(L"\\", 0) == 0 ? L"Z:" + wide : wide;
}

class VersionInfo {
  public:
    explicit VersionInfo(const char* path) {
        const std::wstring file = windowsPath(path);
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
        data_.resize(size);
        loaded_ = size > 0 && ::GetFileVersionInfoW(file.c_str(), 0, size, data_.data()) != 0;
    }

    bool loaded() const { return loaded_; }

    std::wstring text(const wchar_t* name) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!loaded_ || ::VerQueryValueW(data_.data(), key.c_str(), &value, &length) == 0) {
            return L"(missing)";
        }
        return std::wstring(static_cast<const wchar_t*>(value));
    }

    // The fixed part's file and product versions, as "a.b.c.d".
    std::pair<std::wstring, std::wstring> numbers() {
        void* value = nullptr;
        UINT length = 0;
        if (!loaded_ || ::VerQueryValueW(data_.data(), L"\\", &value, &length) == 0 ||
            length < sizeof(VS_FIXEDFILEINFO)) {
            return {};
        }
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        auto dotted = [](DWORD high, DWORD low) {
            return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
                   std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
        };
        return {dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
                dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS)};
    }

  private:
    std::vector<unsigned char> data_;
    bool loaded_ = false;
};

TEST(VersionInfoTest, BothProgramsCarryTheProjectsVersion) {
    const std::wstring version = L"" PELLVANE_VERSION;
    for (auto [path, description] : {std::pair{PELLVANE_SERVER_EXE, L"Pellvane Server"},
                                     std::pair{PELLVANE_PAD_EXE, L"Pellvane pad client"}}) {
        SCOPED_TRACE(path);
        VersionInfo info(path);
        ASSERT_TRUE(info.loaded());
        EXPECT_EQ(info.text(L"ProductName"), L"Pellvane Server");
        EXPECT_EQ(info.text(L"FileDescription"), description);
        EXPECT_EQ(info.text(L"FileVersion"), version);
        EXPECT_EQ(info.text(L"ProductVersion"), version);
        EXPECT_EQ(info.text(L"CompanyName"), L"Pellvane");
        const auto [file, product] = info.numbers();
        EXPECT_EQ(file.rfind(version + L".", 0), 0u) << file;
        EXPECT_EQ(product, file);
    }
}

}  // namespace
