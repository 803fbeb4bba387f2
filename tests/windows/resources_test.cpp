// The resources as they are in the built Pellora.exe: the dialog templates
// parsed byte by byte (a resource script compiled in the wrong code page shows
// up here as a wrong button text), the string tables in English and Japanese,
// the icon's size and depth, the version block and the manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/resource.h"
#include "desktop.h"
#include "test_paths.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

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

// A DLGTEMPLATEEX as its fields come, after the signature; the controls' texts
// (control.text) and the caption are all that may differ between languages.
struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    std::wstring menu, windowClass, caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring font;
    std::vector<Control> controls;
    bool atEnd;  // nothing after the last control
};

DialogTemplate readDialog(const std::string& bytes) {
    TemplateReader r(bytes);
    DialogTemplate d{};
    d.version = r.word();
    d.signature = r.word();
    d.helpId = r.dword();
    d.exStyle = r.dword();
    d.style = r.dword();
    const WORD count = r.word();
    d.x = r.coordinate();
    d.y = r.coordinate();
    d.cx = r.coordinate();
    d.cy = r.coordinate();
    d.menu = r.stringOrOrdinal();
    d.windowClass = r.stringOrOrdinal();
    d.caption = r.stringOrOrdinal();
    d.pointSize = r.word();
    d.weight = r.word();
    d.italic = r.byte();
    d.charset = r.byte();
    d.font = r.stringOrOrdinal();
    for (WORD i = 0; i < count && !r.atEnd(); ++i) {
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
        d.controls.push_back(c);
    }
    r.alignToDword();
    d.atEnd = r.atEnd();
    return d;
}

// The port-selection window as both languages lay it out: everything but the
// texts.
void expectPortWindowLayout(const DialogTemplate& d) {
    EXPECT_EQ(d.version, 1);
    EXPECT_EQ(d.signature, 0xFFFF);  // an extended template
    EXPECT_EQ(d.helpId, 0u);
    EXPECT_EQ(d.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    // Not WS_VISIBLE: a start in the tray must not flash the window.
    EXPECT_EQ(d.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.style & WS_SYSMENU, 0u) << "a system menu would add a close box";
    EXPECT_EQ((std::vector<short>{d.x, d.y, d.cx, d.cy}), (std::vector<short>{0, 0, 197, 101}));
    EXPECT_EQ(d.menu, L"");         // no menu
    EXPECT_EQ(d.windowClass, L"");  // the standard dialog class
    EXPECT_EQ(d.pointSize, 9);
    EXPECT_EQ(d.weight, 0);  // default weight
    EXPECT_EQ(d.italic, 0);
    EXPECT_EQ(d.charset, DEFAULT_CHARSET);
    EXPECT_EQ(d.font, L"MS UI Gothic");

    const auto& controls = d.controls;
    const DWORD child = WS_CHILD | WS_VISIBLE;
    // Template order is the tab order: Cancel, OK, the port list, what is
    // relayed, the mouse's port with its label.
    ASSERT_EQ(controls.size(), 6u);
    EXPECT_EQ(controls[0].id, static_cast<DWORD>(IDCANCEL));
    EXPECT_EQ(controls[0].windowClass, L"#128");  // button
    EXPECT_EQ(controls[0].style, child | WS_TABSTOP | BS_PUSHBUTTON);
    EXPECT_EQ((std::vector<short>{controls[0].x, controls[0].y, controls[0].cx, controls[0].cy}),
              (std::vector<short>{140, 76, 50, 18}));

    EXPECT_EQ(controls[1].id, static_cast<DWORD>(IDOK));
    EXPECT_EQ(controls[1].windowClass, L"#128");
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
    EXPECT_TRUE(d.atEnd) << "more than six controls";
}

// The languages a resource is there in.
std::set<WORD> languagesOf(HMODULE module, const wchar_t* type, const wchar_t* name) {
    std::set<WORD> languages;
    EnumResourceLanguagesW(
        module, type, name,
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::set<WORD>*>(found)->insert(language);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

TEST_F(Resources, TheWindowIsThereInEnglishAndInJapaneseWithOneLayout) {
    EXPECT_EQ(languagesOf(module, RT_DIALOG, MAKEINTRESOURCEW(102)),
              (std::set<WORD>{kEnglish, kJapanese}));

    {
        SCOPED_TRACE("English");
        const std::string bytes = resource(RT_DIALOG, MAKEINTRESOURCEW(102), kEnglish);
        ASSERT_FALSE(bytes.empty()) << "no English dialog 102";
        const DialogTemplate d = readDialog(bytes);
        expectPortWindowLayout(d);
        EXPECT_EQ(d.caption, L"Select X68000 Z Keyboard virtual com port");
        ASSERT_EQ(d.controls.size(), 6u);
        // The Cancel button has always been Japanese: the code page is right.
        EXPECT_EQ(d.controls[0].text, L"\u30AD\u30E3\u30F3\u30BB\u30EB");  // キャンセル
        EXPECT_EQ(d.controls[1].text, L"OK");
        EXPECT_EQ(d.controls[4].text, L"Mouse port:");
    }
    {
        SCOPED_TRACE("Japanese");
        const std::string bytes = resource(RT_DIALOG, MAKEINTRESOURCEW(102), kJapanese);
        ASSERT_FALSE(bytes.empty()) << "no Japanese dialog 102";
        const DialogTemplate d = readDialog(bytes);
        expectPortWindowLayout(d);
        EXPECT_EQ(d.caption, L"X68000 Z キーボードの仮想 COM ポートを選択");
        ASSERT_EQ(d.controls.size(), 6u);
        EXPECT_EQ(d.controls[0].text, L"キャンセル");
        EXPECT_EQ(d.controls[1].text, L"OK");
        EXPECT_EQ(d.controls[4].text, L"マウス:");
    }
}

// The string table in one language: each string that is there, by id. The
// table is kept in blocks of sixteen, each string its length and its UTF-16
// units; block n holds the ids from 16(n-1).
std::vector<unsigned> stringBlocks(HMODULE module) {
    std::vector<unsigned> blocks;
    EnumResourceNamesW(
        module, RT_STRING,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::vector<unsigned>*>(found)->push_back(
                static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&blocks));
    return blocks;
}

std::map<unsigned, std::wstring> stringTable(HMODULE module, WORD language) {
    std::map<unsigned, std::wstring> table;
    for (const unsigned block : stringBlocks(module)) {
        HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
        if (found == nullptr) {
            continue;
        }
        const auto* at = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
        const WCHAR* const end = at + SizeofResource(module, found) / sizeof(WCHAR);
        for (unsigned i = 0; i < 16 && at < end; ++i, at += 1 + *at) {
            if (*at > 0 && at + 1 + *at <= end) {
                table[(block - 1) * 16 + i] =
                    std::wstring(reinterpret_cast<const wchar_t*>(at + 1), *at);
            }
        }
    }
    return table;
}

// The ids app/resource.h names for the string table (#define IDS_...), by id.
std::map<unsigned, std::string> stringIds() {
    std::ifstream in(std::filesystem::path(windowsPath(PELLORA_RESOURCE_H)));
    std::map<unsigned, std::string> ids;
    std::string word, name;
    unsigned id = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> word >> name >> id && word == "#define" && name.rfind("IDS_", 0) == 0) {
            ids[id] = name;
        }
    }
    return ids;
}

// The placeholders of a text, in the order they come: "%1 ... %2 %1" -> "121".
std::wstring placeholders(const std::wstring& text) {
    std::wstring out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == L'%' && text[i + 1] >= L'1' && text[i + 1] <= L'9') {
            out += text[++i];
        }
    }
    return out;
}

bool hasJapanese(const std::wstring& text) {
    // Punctuation, kana and kanji, full-width forms.
    return std::any_of(text.begin(), text.end(), [](wchar_t c) {
        return (c >= 0x3000 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF);
    });
}

TEST_F(Resources, EveryStringIsThereInEnglishAndInJapaneseWithTheSameParts) {
    const auto ids = stringIds();
    ASSERT_GE(ids.size(), 60u) << "app/resource.h not read";
    const auto english = stringTable(module, kEnglish);
    const auto japanese = stringTable(module, kJapanese);
    // Texts that read the same in Japanese.
    const std::set<unsigned> kSame = {IDS_TIP_PORT, IDS_THE_X68000};
    for (const auto& [id, name] : ids) {
        SCOPED_TRACE(name);
        const auto en = english.find(id);
        const auto ja = japanese.find(id);
        ASSERT_NE(en, english.end()) << "no English text";
        ASSERT_NE(ja, japanese.end()) << "no Japanese text";
        // Each language puts the same parts in, in its own order.
        std::wstring enParts = placeholders(en->second);
        std::wstring jaParts = placeholders(ja->second);
        std::sort(enParts.begin(), enParts.end());
        std::sort(jaParts.begin(), jaParts.end());
        EXPECT_EQ(enParts, jaParts);
        EXPECT_FALSE(hasJapanese(en->second));
        EXPECT_EQ(hasJapanese(ja->second), kSame.count(id) == 0) << "not translated";
    }
    // No text without its id, and no language but these two.
    EXPECT_EQ(english.size(), ids.size());
    EXPECT_EQ(japanese.size(), ids.size());
    for (const unsigned block : stringBlocks(module)) {
        EXPECT_EQ(languagesOf(module, RT_STRING, MAKEINTRESOURCEW(block)),
                  (std::set<WORD>{kEnglish, kJapanese}))
            << "block " << block;
    }
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
