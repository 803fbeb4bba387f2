// The resources as they are in the built Pellora.exe: the dialog template parsed
// byte by byte (a resource script compiled in the wrong code page shows up here
// as a wrong button text), the icon's size and depth, the version block and
// the manifest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "desktop.h"
#include "test_paths.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExW(windowsPath(PELLORA_EXE).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    // The bytes of one resource, empty when it is missing.
    std::string resource(const wchar_t* type, const wchar_t* name, WORD language) const {
        HRSRC found = FindResourceExW(module, type, name, language);
        if (found == nullptr) {
            return {};
        }
        HGLOBAL loaded = LoadResource(module, found);
        const auto* data = static_cast<const char*>(LockResource(loaded));
        return std::string(data, SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

// Reads a DLGTEMPLATEEX field by field, in file order.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : data(bytes) {}
    WORD word() { return read<WORD>(); }
    DWORD dword() { return read<DWORD>(); }
    short coordinate() { return read<short>(); }
    BYTE byte() { return read<BYTE>(); }
    // A sz_Or_Ord field: a string, or 0xFFFF followed by an ordinal ("#n").
    std::wstring stringOrOrdinal() {
        if (peekWord() == 0xFFFF) {
            word();
            return L"#" + std::to_wstring(word());
        }
        std::wstring text;
        for (WORD c = word(); c != 0; c = word()) {
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }
    void alignToDword() { offset = (offset + 3) & ~std::size_t{3}; }
    bool atEnd() const { return offset >= data.size(); }

private:
    template <typename T>
    T read() {
        T value{};
        if (offset + sizeof(T) <= data.size()) {
            std::memcpy(&value, data.data() + offset, sizeof(T));
        }
        offset += sizeof(T);
        return value;
    }
    WORD peekWord() const {
        WORD value = 0;
        if (offset + 2 <= data.size()) {
            std::memcpy(&value, data.data() + offset, 2);
        }
        return value;
    }

    const std::string& data;
    std::size_t offset = 0;
};

struct Control {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring windowClass, text;
};

TEST_F(Resources, DialogTemplateIsJapaneseWithItsFontTextsAndLayout) {
    const std::string bytes = resource(RT_DIALOG, MAKEINTRESOURCEW(102), kJapanese);
    ASSERT_FALSE(bytes.empty()) << "no Japanese dialog 102";
    TemplateReader r(bytes);
    EXPECT_EQ(r.word(), 1);       // dlgVer
    EXPECT_EQ(r.word(), 0xFFFF);  // signature of an extended template
    EXPECT_EQ(r.dword(), 0u);     // helpID
    EXPECT_EQ(r.dword(), static_cast<DWORD>(WS_EX_APPWINDOW));
    const DWORD style = r.dword();
    // Not WS_VISIBLE: a start in the tray must not flash the window.
    EXPECT_EQ(style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(style & WS_SYSMENU, 0u) << "a system menu would add a close box";
    const WORD count = r.word();
    ASSERT_EQ(count, 6);
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 197);
    EXPECT_EQ(r.coordinate(), 101);
    EXPECT_EQ(r.stringOrOrdinal(), L"");  // no menu
    EXPECT_EQ(r.stringOrOrdinal(), L"");  // the standard dialog class
    EXPECT_EQ(r.stringOrOrdinal(), L"Select X68000 Z Keyboard virtual com port");
    EXPECT_EQ(r.word(), 9);  // point size
    EXPECT_EQ(r.word(), 0);  // default weight
    EXPECT_EQ(r.byte(), 0);  // not italic
    EXPECT_EQ(r.byte(), DEFAULT_CHARSET);
    EXPECT_EQ(r.stringOrOrdinal(), L"MS UI Gothic");

    std::vector<Control> controls;
    for (WORD i = 0; i < count; ++i) {
        r.alignToDword();
        Control c{};
        r.dword();  // helpID
        c.exStyle = r.dword();
        c.style = r.dword();
        c.x = r.coordinate();
        c.y = r.coordinate();
        c.cx = r.coordinate();
        c.cy = r.coordinate();
        c.id = r.dword();
        c.windowClass = r.stringOrOrdinal();
        c.text = r.stringOrOrdinal();
        const WORD extra = r.word();
        for (WORD b = 0; b < extra; ++b) {
            r.byte();
        }
        controls.push_back(c);
    }
    const DWORD child = WS_CHILD | WS_VISIBLE;
    // Template order is the tab order: Cancel, OK, the port list, what is
    // relayed, the mouse's port with its label.
    ASSERT_EQ(controls.size(), 6u);
    EXPECT_EQ(controls[0].id, static_cast<DWORD>(IDCANCEL));
    EXPECT_EQ(controls[0].windowClass, L"#128");                     // button
    EXPECT_EQ(controls[0].text, L"\u30AD\u30E3\u30F3\u30BB\u30EB");  // キャンセル
    EXPECT_EQ(controls[0].style, child | WS_TABSTOP | BS_PUSHBUTTON);
    EXPECT_EQ((std::vector<short>{controls[0].x, controls[0].y, controls[0].cx, controls[0].cy}),
              (std::vector<short>{140, 76, 50, 18}));

    EXPECT_EQ(controls[1].id, static_cast<DWORD>(IDOK));
    EXPECT_EQ(controls[1].windowClass, L"#128");
    EXPECT_EQ(controls[1].text, L"OK");
    EXPECT_EQ(controls[1].style, child | WS_TABSTOP | BS_DEFPUSHBUTTON);
    EXPECT_EQ((std::vector<short>{controls[1].x, controls[1].y, controls[1].cx, controls[1].cy}),
              (std::vector<short>{88, 76, 50, 18}));

    EXPECT_EQ(controls[2].id, 1000u);
    EXPECT_EQ(controls[2].windowClass, L"#133");  // combo box
    EXPECT_EQ(controls[2].text, L"");
    EXPECT_EQ(controls[2].style, child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT);
    EXPECT_EQ((std::vector<short>{controls[2].x, controls[2].y, controls[2].cx, controls[2].cy}),
              (std::vector<short>{7, 7, 183, 93}));

    EXPECT_EQ(controls[3].id, 1001u);
    EXPECT_EQ(controls[3].windowClass, L"#133");
    EXPECT_EQ(controls[3].style, child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
    EXPECT_EQ((std::vector<short>{controls[3].x, controls[3].y, controls[3].cx, controls[3].cy}),
              (std::vector<short>{7, 29, 183, 40}));
    EXPECT_EQ(controls[4].windowClass, L"#130");  // static
    EXPECT_EQ(controls[4].text, L"Mouse port:");
    EXPECT_EQ(controls[4].id, 0xFFFFFFFFu);
    EXPECT_EQ(controls[4].style, child | WS_GROUP | SS_LEFT);
    EXPECT_EQ(controls[5].id, 1002u);
    EXPECT_EQ(controls[5].windowClass, L"#133");
    EXPECT_EQ(controls[5].style, child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT);
    EXPECT_EQ((std::vector<short>{controls[5].x, controls[5].y, controls[5].cx, controls[5].cy}),
              (std::vector<short>{60, 51, 130, 93}));
    for (const auto& c : controls) {
        EXPECT_EQ(c.exStyle, 0u);
    }
    r.alignToDword();
    EXPECT_TRUE(r.atEnd()) << "more than six controls";
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, IconsHoldEveryShellSizeAt32BitsAndEachLoads) {
    // The application's, and the tray's while the keyboard is the X68000's.
    for (const WORD groupId : {128, 129}) {
        SCOPED_TRACE(testing::Message() << "icon " << groupId);
        const std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(groupId), kJapanese);
        ASSERT_GE(group.size(), 6u) << "no icon group";
        WORD header[3];
        std::memcpy(header, group.data(), sizeof(header));
        EXPECT_EQ(header[1], 1);  // an icon
        ASSERT_EQ(group.size(), 6 + header[2] * sizeof(IconGroupEntry));
        std::vector<int> sizes;
        for (WORD i = 0; i < header[2]; ++i) {
            IconGroupEntry entry{};
            std::memcpy(&entry, group.data() + 6 + i * sizeof(entry), sizeof(entry));
            const int size = entry.width == 0 ? 256 : entry.width;  // 256 is written as 0
            SCOPED_TRACE(testing::Message() << size << " pixels");
            sizes.push_back(size);
            EXPECT_EQ(entry.height, entry.width);
            EXPECT_EQ(entry.bitCount, 32);
            std::string image = resource(RT_ICON, MAKEINTRESOURCEW(entry.id), kJapanese);
            ASSERT_EQ(image.size(), entry.bytes);
            if (size < 256) {  // the 256-pixel image is a PNG
                BITMAPINFOHEADER bitmap{};
                std::memcpy(&bitmap, image.data(), sizeof(bitmap));
                EXPECT_EQ(bitmap.biBitCount, 32);
                EXPECT_EQ(bitmap.biHeight, 2 * size);  // the colour image and its mask
            }
            // Windows makes an icon of it, at the size it was drawn.
            HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()),
                                                  static_cast<DWORD>(image.size()), TRUE,
                                                  0x00030000, size, size, LR_DEFAULTCOLOR);
            ASSERT_NE(icon, nullptr);
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour{};
            GetObjectW(info.hbmColor, sizeof(colour), &colour);
            EXPECT_EQ(colour.bmWidth, size);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
        EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 48, 256}));
    }
}

std::wstring versionString(const std::vector<BYTE>& block, const std::wstring& name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\041104b0\\" + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
        length == 0) {
        return L"(missing)";
    }
    return std::wstring(value, wcsnlen(value, length));
}

// The project's version, as CMake's project() has it ("1.0.0.1"), widened;
// missing numbers count as 0 in the fixed block.
std::wstring projectVersion() {
    const std::string text = PELLORA_VERSION;
    return std::wstring(text.begin(), text.end());
}

DWORD projectVersionNumber(int index) {
    const unsigned numbers[4] = {PELLORA_VERSION_MAJOR, PELLORA_VERSION_MINOR,
                                 PELLORA_VERSION_PATCH, PELLORA_VERSION_TWEAK};
    return numbers[index];
}

TEST_F(Resources, VersionBlockIsJapaneseUtf16WithTheProjectsVersion) {
    const std::wstring exe = windowsPath(PELLORA_EXE);
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD versionMS = projectVersionNumber(0) << 16 | projectVersionNumber(1);
    const DWORD versionLS = projectVersionNumber(2) << 16 | projectVersionNumber(3);
    EXPECT_EQ(fixed->dwFileVersionMS, versionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, versionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, versionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, versionLS);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);  // exactly one language and code page
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(versionString(block, L"FileVersion"), projectVersion());
    EXPECT_EQ(versionString(block, L"ProductVersion"), projectVersion());
    EXPECT_EQ(versionString(block, L"FileDescription"), L"Pellora");
    EXPECT_EQ(versionString(block, L"ProductName"), L"Pellora");
    EXPECT_EQ(versionString(block, L"CompanyName"), L"Pellora");
    EXPECT_EQ(versionString(block, L"InternalName"), L"Pellora.exe");
    EXPECT_EQ(versionString(block, L"OriginalFilename"), L"Pellora.exe");
}

TEST_F(Resources, ManifestAsksForInvokerLevelPerMonitorDpiAndCommonControls6) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr) << "no manifest 1";
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(data, SizeofResource(module, found));
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
    EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
    // LoadIconMetric, which the program imports, is in version 6 only.
    EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"),
              std::string::npos);
}

}  // namespace
