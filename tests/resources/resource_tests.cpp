// The compiled resources, linked into this program, checked against the tables that
// the program's code and users rely on.
#include <windows.h>
#include <commctrl.h>
#include <winver.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "template_reader.h"
#include "tessel_build.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleW(nullptr);
}

// ----------------------------------------------------------------- menus

struct MenuRow {
    int Popup;
    const wchar_t* Text; // nullptr: a separator
    UINT Id;
};

const MenuRow kMainMenu[] = {
    {0, L"&Options ...", IDM_OPTIONS},
    {0, nullptr, 0},
    {0, L"Check for &Updates ...", IDM_CHECK_UPDATES},
    {0, nullptr, 0},
    {0, L"Export settings ...", IDM_EXPORT_SETTINGS},
    {0, L"Import settings ...", IDM_IMPORT_SETTINGS},
    {0, nullptr, 0},
    {0, L"&Exit", IDM_EXIT},
    {1, L"&Donate project", IDM_DONATE},
    {1, nullptr, 0},
    {1, L"&About ...", IDM_ABOUT},
};

const MenuRow kContextMenu[] = {
    {0, L"&Insert and Mount Virtual Disk ...", IDM_INSERT_AND_MOUNT},
    {0, L"&Mount ...", IDM_MOUNT},
    {0, L"&Unmount", IDM_UNMOUNT},
    {0, nullptr, 0},
    {0, L"Mount All Disk's", IDM_MOUNT_ALL},
    {0, L"Unmount All Disk's", IDM_UNMOUNT_ALL},
    {0, nullptr, 0},
    {0, L"Compact Virtual Disk's ...", IDM_COMPACT},
    {0, L"Compact All Virtual Disk's (may be long time !)", IDM_COMPACT_ALL},
    {0, nullptr, 0},
    {0, L"Delete VHD from disk ...", IDM_DELETE_FILES},
    {0, nullptr, 0},
    {0, L"Set \"Mount All at Windows starts ...\"", IDM_STARTUP_ALL_ON},
    {0, L"Set \"Don't Mount All at Windows starts ...\"", IDM_STARTUP_ALL_OFF},
    {0, nullptr, 0},
    {0, L"Unmount All Virtual Disk's and &Exit", IDM_UNMOUNT_ALL_AND_EXIT},
};

struct MenuCase {
    const char* Name;
    WORD Id;
    std::vector<const wchar_t*> Popups;
    const MenuRow* Rows;
    size_t RowCount;
};

struct LiveItem {
    UINT Type = 0, State = 0, Id = 0;
    HMENU Sub = nullptr;
    std::wstring Text;
};

LiveItem ReadItem(HMENU menu, int pos) {
    wchar_t text[256] = {};
    MENUITEMINFOW mi = {};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    mi.dwTypeData = text;
    mi.cch = 255;
    LiveItem item;
    if (!GetMenuItemInfoW(menu, UINT(pos), TRUE, &mi))
        return item;
    item.Type = mi.fType;
    item.State = mi.fState;
    item.Id = mi.wID;
    item.Sub = mi.hSubMenu;
    item.Text = text;
    return item;
}

class MenuTest : public ::testing::TestWithParam<MenuCase> {};

TEST_P(MenuTest, EveryItemAsTabled) {
    const MenuCase& c = GetParam();
    HMENU bar = LoadMenuW(Self(), MAKEINTRESOURCEW(c.Id));
    ASSERT_NE(bar, nullptr) << "menu " << c.Id << " missing";
    ASSERT_EQ(GetMenuItemCount(bar), int(c.Popups.size()));
    for (int p = 0; p < int(c.Popups.size()); ++p) {
        LiveItem top = ReadItem(bar, p);
        EXPECT_EQ(Narrow(top.Text), Narrow(c.Popups[size_t(p)])) << "popup " << p;
        EXPECT_EQ(top.State, 0u) << "popup " << p;
        ASSERT_NE(top.Sub, nullptr) << "popup " << p;

        std::vector<MenuRow> rows;
        for (size_t i = 0; i < c.RowCount; ++i)
            if (c.Rows[i].Popup == p)
                rows.push_back(c.Rows[i]);
        ASSERT_EQ(GetMenuItemCount(top.Sub), int(rows.size())) << "items of popup " << p;
        for (int pos = 0; pos < int(rows.size()); ++pos) {
            const MenuRow& want = rows[size_t(pos)];
            LiveItem got = ReadItem(top.Sub, pos);
            SCOPED_TRACE("popup " + std::to_string(p) + " position " + std::to_string(pos));
            EXPECT_EQ(got.Sub, nullptr);
            if (!want.Text) {
                EXPECT_EQ(got.Type, UINT(MFT_SEPARATOR));
                continue;
            }
            EXPECT_EQ(got.State, 0u) << "enabled, unchecked, not default as loaded";
            EXPECT_EQ(got.Type, UINT(MFT_STRING));
            EXPECT_EQ(got.Id, want.Id);
            EXPECT_EQ(Narrow(got.Text), Narrow(want.Text));
        }
    }
    DestroyMenu(bar);
}

void PrintTo(const MenuCase& c, std::ostream* os) {
    *os << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Resources, MenuTest,
    ::testing::Values(
        MenuCase{"MainMenu", IDM_MAINMENU, {L"&File", L"&Help"}, kMainMenu, std::size(kMainMenu)},
        MenuCase{"ContextMenu", IDM_CONTEXT, {L"222"}, kContextMenu, std::size(kContextMenu)}),
    [](const ::testing::TestParamInfo<MenuCase>& p) { return std::string(p.param.Name); });

TEST(ContextMenu, HasNoDiskInformationItem) {
    HMENU menu = LoadMenuW(Self(), MAKEINTRESOURCEW(IDM_CONTEXT));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuState(GetSubMenu(menu, 0), IDM_DISK_INFO, MF_BYCOMMAND), UINT(-1));
    DestroyMenu(menu);
}

// ----------------------------------------------------------------- accelerators

TEST(Accelerators, TableHoldsAltCharacterEntriesForAbout) {
    struct Want {
        WORD Key;
    } const want[] = {{'?'}, {'/'}};
    HACCEL table = LoadAcceleratorsW(Self(), MAKEINTRESOURCEW(IDA_MAIN));
    ASSERT_NE(table, nullptr);
    ACCEL got[8] = {};
    int n = CopyAcceleratorTableW(table, got, 8);
    ASSERT_EQ(n, int(std::size(want)));
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(got[i].key, want[i].Key);
        EXPECT_EQ(got[i].cmd, IDM_ABOUT);
        EXPECT_EQ(got[i].fVirt & 0x7F, FALT) << "fVirt " << int(got[i].fVirt);
    }
    DestroyAcceleratorTable(table);

    // The stored table: 8-byte entries, only the last one marked as last (0x80).
    std::vector<uint8_t> raw = ResourceBytes(RT_ACCELERATOR, IDA_MAIN);
    ASSERT_EQ(raw.size(), 8 * std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        WORD flags, key, cmd;
        std::memcpy(&flags, &raw[8 * i], 2);
        std::memcpy(&key, &raw[8 * i + 2], 2);
        std::memcpy(&cmd, &raw[8 * i + 4], 2);
        SCOPED_TRACE("stored entry " + std::to_string(i));
        WORD last = i + 1 == std::size(want) ? 0x80 : 0;
        EXPECT_EQ(flags, WORD(FALT | last));
        EXPECT_EQ(key, want[i].Key);
        EXPECT_EQ(cmd, IDM_ABOUT);
    }
}

WPARAM g_lastCommand = 0;
LRESULT CALLBACK RecordCommand(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COMMAND)
        g_lastCommand = wp;
    return DefWindowProcW(w, m, wp, lp);
}

TEST(Accelerators, TranslateOnlyAltCharacters) {
    struct Row {
        const char* What;
        UINT Message;
        WPARAM Key;
        bool Alt;
        bool Translated;
    } const rows[] = {
        {"Alt+?", WM_SYSCHAR, '?', true, true},
        {"Alt+/", WM_SYSCHAR, '/', true, true},
        {"? without Alt", WM_CHAR, '?', false, false},
        {"/ without Alt", WM_CHAR, '/', false, false},
        {"Alt+x", WM_SYSCHAR, 'x', true, false},
    };
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordCommand;
    wc.hInstance = Self();
    wc.lpszClassName = L"TesselAccelProbe";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                             nullptr, Self(), nullptr);
    ASSERT_NE(w, nullptr);
    HACCEL table = LoadAcceleratorsW(Self(), MAKEINTRESOURCEW(IDA_MAIN));
    ASSERT_NE(table, nullptr);
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    for (const Row& r : rows) {
        std::memcpy(keys, saved, sizeof keys);
        keys[VK_MENU] = keys[VK_LMENU] = r.Alt ? 0x80 : 0;
        SetKeyboardState(keys);
        g_lastCommand = 0;
        MSG msg = {w, r.Message, r.Key, LPARAM(r.Alt ? 0x20000001 : 1), 0, {0, 0}};
        int translated = TranslateAcceleratorW(w, table, &msg);
        EXPECT_EQ(translated != 0, r.Translated) << r.What;
        EXPECT_EQ(g_lastCommand, r.Translated ? MAKEWPARAM(IDM_ABOUT, 1) : 0) << r.What;
    }
    SetKeyboardState(saved);
    DestroyAcceleratorTable(table);
    DestroyWindow(w);
}

// ----------------------------------------------------------------- dialogs

struct ControlRow {
    int Id;
    const wchar_t* Class;
    const wchar_t* Text; // "#107": the icon with that id
    DWORD Style;         // as stored in the template
    short X, Y, Cx, Cy;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kDefButton = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kLink = kChild | WS_TABSTOP;
const wchar_t kOk[] = L"\x041E\x041A"; // Cyrillic, looks like "OK"

std::wstring Link(const char* inner) {
    std::wstring s = L"<a>";
    for (const char* p = inner; *p; ++p)
        s += wchar_t(*p);
    return s + L"</a>";
}

struct DialogCase {
    const char* Name;
    WORD Id;
    bool Extended;
    DWORD Style;
    const wchar_t* Caption;
    short Cx, Cy;
    std::vector<ControlRow> Controls;
};

std::vector<DialogCase> DialogCases() {
    static const std::wstring supportText = Link(TESSEL_SUPPORT_EMAIL); // the rows point into it
    return {
        {"About",
         IDD_ABOUT,
         true,
         0x80C800C8,
         L"About Tessel",
         219,
         122,
         {
             {-1, L"Static", L"#107", kChild | SS_ICON, 7, 7, 21, 20},
             {-1, L"Static", L"Tessel version 2.5", kLabel | SS_NOPREFIX, 42, 14, 114, 8},
             {-1, L"Static", nullptr, kLabel, 42, 26, 114, 8},
             {-1, L"Static",
              L"Your donation will help the project to improve and add new functions and file "
              L"formats.",
              kLabel, 42, 43, 148, 20},
             {-1, L"Static", L"If you like this program, please make", kLabel, 42, 62, 118, 8},
             {IDC_DONATION_LINK, L"SysLink", L"<a>donation.</a>", kLink, 164, 62, 41, 9},
             {-1, L"Static", L"Questions and support:", kLabel, 42, 80, 76, 8},
             {IDC_SUPPORT_LINK, L"SysLink", supportText.c_str(), kLink, 122, 80, 76, 10},
             {-1, L"Static", nullptr, kLabel | WS_DISABLED, 7, 107, 105, 8},
             {IDOK, L"Button", kOk, kDefButton, 162, 101, 50, 14},
         }},
        {"Options",
         IDD_OPTIONS,
         true,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
         L"Tessel options",
         237,
         84,
         {
             {IDC_RUN_AT_STARTUP, L"Button", L"Run Tessel at Windows starts", kCheck, 23, 19, 116,
              10},
             {IDC_CHECK_UPDATES, L"Button", L"Check for program updates at startup", kCheck, 23, 34,
              137, 10},
             {IDOK, L"Button", kOk, kDefButton, 125, 63, 50, 14},
             {IDCANCEL, L"Button", L"Cancel", kButton, 180, 63, 50, 14},
         }},
        {"DiskInfo",
         IDD_DISKINFO,
         true,
         0x80C808C8,
         L"Virtual Hard Disk Information",
         268,
         139,
         {
             {IDOK, L"Button", kOk, kDefButton, 109, 118, 50, 14},
             {-1, L"Static", L"Virtual size:", kLabel, 7, 9, 38, 8},
             {IDC_VIRTUAL_SIZE, L"Edit", L"", kEdit, 97, 7, 110, 14},
             {-1, L"Static", L"Physical size:", kLabel, 7, 26, 43, 8},
             {IDC_PHYSICAL_SIZE, L"Edit", L"", kEdit, 97, 26, 110, 14},
             {-1, L"Static", L"Block size ", kLabel, 7, 47, 33, 8},
             {IDC_BLOCK_SIZE, L"Edit", L"", kEdit, 97, 47, 110, 14},
             {-1, L"Static", L"Sector size:", kLabel, 7, 66, 38, 8},
             {IDC_SECTOR_SIZE, L"Edit", L"", kEdit, 97, 66, 110, 14},
             {-1, L"Static", L"Provider-specific subtype:", kLabel, 7, 87, 84, 8},
             {IDC_SUBTYPE, L"Edit", L"", kEdit, 97, 87, 110, 14},
             {IDC_VIRTUAL_SIZE_UNIT, L"Static", L"bytes", kLabel, 214, 7, 47, 8},
             {IDC_PHYSICAL_SIZE_UNIT, L"Static", L"bytes", kLabel, 214, 26, 47, 8},
             {IDC_BLOCK_SIZE_UNIT, L"Static", L"bytes", kLabel, 214, 47, 47, 8},
             {IDC_SECTOR_SIZE_UNIT, L"Static", L"bytes", kLabel, 214, 66, 47, 8},
         }},
    };
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

class DialogTest : public ::testing::TestWithParam<DialogCase> {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
};

TEST_P(DialogTest, TemplateAsTabled) {
    const DialogCase& c = GetParam();
    bool ok = false;
    DialogTemplate t = ReadDialogTemplate(c.Id, ok);
    ASSERT_TRUE(ok) << "dialog " << c.Id << " missing or malformed";
    EXPECT_EQ(t.Extended, c.Extended);
    EXPECT_EQ(t.Style, c.Style) << std::hex << "0x" << t.Style;
    EXPECT_EQ(t.ExStyle, 0u);
    EXPECT_EQ(t.Cx, c.Cx);
    EXPECT_EQ(t.Cy, c.Cy);
    EXPECT_EQ(Narrow(t.Caption), Narrow(c.Caption));
    EXPECT_EQ(t.Menu, L"");
    EXPECT_EQ(t.Class, L"");
    EXPECT_EQ(Narrow(t.Face), "MS Shell Dlg");
    EXPECT_EQ(t.PointSize, 8);
    if (t.Extended) {
        EXPECT_EQ(t.Weight, FW_NORMAL);
        EXPECT_EQ(t.Italic, 0);
    }
    ASSERT_EQ(t.Items.size(), c.Controls.size());
    for (size_t i = 0; i < c.Controls.size(); ++i) {
        const ControlRow& want = c.Controls[i];
        const TemplateItem& got = t.Items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.Id));
        EXPECT_EQ(got.Id & 0xFFFF, DWORD(want.Id) & 0xFFFF);
        EXPECT_EQ(_wcsicmp(got.Class.c_str(), want.Class), 0) << Narrow(got.Class);
        if (want.Text) {
            EXPECT_EQ(Narrow(got.Text), Narrow(want.Text));
        }
        EXPECT_EQ(got.Style, want.Style) << std::hex << "0x" << got.Style;
        EXPECT_EQ(got.ExStyle, 0u);
        EXPECT_EQ(got.X, want.X);
        EXPECT_EQ(got.Y, want.Y);
        EXPECT_EQ(got.Cx, want.Cx);
        EXPECT_EQ(got.Cy, want.Cy);
    }
}

TEST_P(DialogTest, CreatedDialogMatchesTable) {
    const DialogCase& c = GetParam();
    HWND dlg = CreateDialogParamW(Self(), MAKEINTRESOURCEW(c.Id), nullptr, QuietDialog, 0);
    ASSERT_NE(dlg, nullptr) << "dialog " << c.Id << " error " << GetLastError();

    wchar_t text[512];
    GetWindowTextW(dlg, text, 512);
    EXPECT_EQ(Narrow(text), Narrow(c.Caption));
    DWORD style = DWORD(GetWindowLongW(dlg, GWL_STYLE));
    EXPECT_EQ(style & c.Style, c.Style) << std::hex << "0x" << style;
    EXPECT_FALSE(style & WS_VISIBLE);

    RECT client, size = {0, 0, c.Cx, c.Cy};
    GetClientRect(dlg, &client);
    MapDialogRect(dlg, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    LOGFONTW font = {};
    GetObjectW(HFONT(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_FALSE(font.lfItalic);

    size_t i = 0;
    for (HWND ctl = GetWindow(dlg, GW_CHILD); ctl; ctl = GetWindow(ctl, GW_HWNDNEXT), ++i) {
        ASSERT_LT(i, c.Controls.size()) << "more controls than tabled";
        const ControlRow& want = c.Controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.Id));
        EXPECT_EQ(GetDlgCtrlID(ctl) & 0xFFFF, want.Id & 0xFFFF);
        wchar_t cls[64];
        GetClassNameW(ctl, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, want.Class), 0) << Narrow(cls);
        DWORD s = DWORD(GetWindowLongW(ctl, GWL_STYLE));
        DWORD need = want.Style;
        if (std::wcscmp(want.Class, L"Edit") == 0) {
            // The dialog manager turns an edit's WS_BORDER into WS_EX_CLIENTEDGE.
            need &= ~DWORD(WS_BORDER);
            EXPECT_TRUE((s & WS_BORDER) || (GetWindowLongW(ctl, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        EXPECT_EQ(s & need, need) << std::hex << "0x" << s;
        if (want.Text && want.Text[0] == L'#') {
            EXPECT_NE(SendMessageW(ctl, STM_GETICON, 0, 0), 0) << "icon not loaded";
        } else if (want.Text && std::wcscmp(want.Class, L"SysLink") != 0) {
            GetWindowTextW(ctl, text, 512);
            EXPECT_EQ(Narrow(text), Narrow(want.Text));
        }
        // Position and size separately, as the dialog manager converts them.
        RECT pos = {want.X, want.Y, 0, 0}, ext = {0, 0, want.Cx, want.Cy}, at;
        MapDialogRect(dlg, &pos);
        MapDialogRect(dlg, &ext);
        GetWindowRect(ctl, &at);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&at), 2);
        EXPECT_EQ(at.left, pos.left);
        EXPECT_EQ(at.top, pos.top);
        if ((want.Style & SS_TYPEMASK) == SS_ICON && std::wcscmp(want.Class, L"Static") == 0)
            continue; // an icon static takes its icon's size
        EXPECT_EQ(at.right - at.left, ext.right);
        EXPECT_EQ(at.bottom - at.top, ext.bottom);
    }
    EXPECT_EQ(i, c.Controls.size());
    DestroyWindow(dlg);
}

void PrintTo(const DialogCase& c, std::ostream* os) {
    *os << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Resources, DialogTest, ::testing::ValuesIn(DialogCases()),
                         [](const ::testing::TestParamInfo<DialogCase>& p) {
                             return std::string(p.param.Name);
                         });

TEST(AboutDialog, OwnLinesNameTheProductValues) {
    bool ok = false;
    DialogTemplate t = ReadDialogTemplate(IDD_ABOUT, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(t.Items.size(), 10u);
    EXPECT_FALSE(t.Items[2].Text.empty()) << "second line";
    std::string build = Narrow(t.Items[8].Text);
    EXPECT_NE(build.find("2.5"), std::string::npos) << build;
    EXPECT_NE(build.find(TESSEL_BUILD_DATE), std::string::npos) << build;
}

// The texts of the product's own must fit their boxes in the dialog font.
TEST(AboutDialog, OwnTextsFitTheirControls) {
    HWND dlg = CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr, QuietDialog, 0);
    ASSERT_NE(dlg, nullptr);
    HDC dc = GetDC(dlg);
    HGDIOBJ old = SelectObject(dc, HFONT(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    bool ok = false;
    DialogTemplate t = ReadDialogTemplate(IDD_ABOUT, ok);
    ASSERT_TRUE(ok);
    struct Row {
        size_t Index;
        std::wstring Shown;
    } const rows[] = {
        {2, t.Items[2].Text},
        {8, t.Items[8].Text},
        {7, Link(TESSEL_SUPPORT_EMAIL).substr(3, std::strlen(TESSEL_SUPPORT_EMAIL))},
    };
    for (const Row& r : rows) {
        SIZE extent = {};
        GetTextExtentPoint32W(dc, r.Shown.c_str(), int(r.Shown.size()), &extent);
        RECT box = {0, 0, t.Items[r.Index].Cx, t.Items[r.Index].Cy};
        MapDialogRect(dlg, &box);
        EXPECT_LE(extent.cx, box.right) << Narrow(r.Shown);
    }
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);
    DestroyWindow(dlg);
}

// ----------------------------------------------------------------- icons

struct IconCase {
    const char* Name;
    WORD Id;
    std::vector<int> Sizes;
    enum Look { Any, Grey, Amber, RedAndYellow } Picture;
};

class IconTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(IconTest, GroupHoldsTheSizes) {
    const IconCase& c = GetParam();
    std::vector<GroupIconEntry> group = ReadGroupIcon(c.Id);
    ASSERT_FALSE(group.empty()) << "icon group " << c.Id << " missing";
    for (int size : c.Sizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        const GroupIconEntry* e = nullptr;
        for (const GroupIconEntry& g : group)
            if (g.Width == size && g.Height == size)
                e = &g;
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->BitCount, 32);
        std::vector<uint8_t> image = ResourceBytes(RT_ICON, e->IconId);
        EXPECT_EQ(image.size(), e->Bytes);
        if (size >= 256) {
            const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
            ASSERT_GE(image.size(), 24u);
            EXPECT_EQ(std::memcmp(image.data(), png, 8), 0);
            EXPECT_EQ(image[18] << 8 | image[19], size) << "PNG width";
            EXPECT_EQ(image[22] << 8 | image[23], size) << "PNG height";
            continue;
        }
        HICON icon = HICON(LoadImageW(Self(), MAKEINTRESOURCEW(c.Id), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm = {};
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

// A coarse look at the 16 px image, enough to tell the pictures apart.
TEST_P(IconTest, SmallImageShowsItsPicture) {
    const IconCase& c = GetParam();
    const GroupIconEntry* e = nullptr;
    std::vector<GroupIconEntry> group = ReadGroupIcon(c.Id);
    for (const GroupIconEntry& g : group)
        if (g.Width == 16)
            e = &g;
    ASSERT_NE(e, nullptr);
    IconPixels px = ReadIconPixels(e->IconId);
    ASSERT_EQ(px.Size, 16) << "not a 32-bit BMP image";
    int opaque = 0, grey = 0, amber = 0, red = 0, yellow = 0;
    for (uint32_t p : px.Rgba) {
        int r = p & 255, g = (p >> 8) & 255, b = (p >> 16) & 255, a = p >> 24;
        if (a < 128)
            continue;
        ++opaque;
        grey += std::max({r, g, b}) - std::min({r, g, b}) <= 8;
        amber += r > 200 && g > 120 && b < 110;
        red += r > 170 && g < 110 && b < 110;
        yellow += r > 220 && g > 190 && b < 170;
    }
    EXPECT_EQ(px.Rgba[0] >> 24, 0u) << "top-left corner is see-through";
    EXPECT_GE(opaque, 256 / 10) << "too little drawn";
    EXPECT_LE(opaque, 250) << "hardly any edge left";
    switch (c.Picture) {
    case IconCase::Grey:
        EXPECT_EQ(grey, opaque) << "every drawn pixel grey";
        break;
    case IconCase::Amber:
        EXPECT_GE(amber * 3, opaque) << "amber " << amber << " of " << opaque;
        break;
    case IconCase::RedAndYellow:
        EXPECT_GE(red, 4) << "pin head";
        EXPECT_GE(yellow * 3, opaque) << "note paper " << yellow << " of " << opaque;
        break;
    case IconCase::Any:
        EXPECT_LT(grey, opaque) << "some colour";
        break;
    }
}

void PrintTo(const IconCase& c, std::ostream* os) {
    *os << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Resources, IconTest,
    ::testing::Values(IconCase{"App", IDI_APP, {16, 32, 48, 256}, IconCase::Any},
                      IconCase{"Disk", IDI_LIST_DISK, {16, 32}, IconCase::Any},
                      IconCase{"Error", IDI_LIST_ERROR, {16, 32}, IconCase::Amber},
                      IconCase{
                          "StartupYes", IDI_LIST_STARTUP_YES, {16, 32}, IconCase::RedAndYellow},
                      IconCase{"StartupNo", IDI_LIST_STARTUP_NO, {16, 32}, IconCase::Grey}),
    [](const ::testing::TestParamInfo<IconCase>& p) { return std::string(p.param.Name); });

// ----------------------------------------------------------------- manifest and version

std::string ManifestText() {
    std::vector<uint8_t> raw = ResourceBytes(RT_MANIFEST, 1);
    return std::string(raw.begin(), raw.end());
}

// The text of the first element named `tag` that follows `after`.
std::string Element(const std::string& xml, const std::string& tag, size_t after = 0) {
    size_t start = xml.find("<" + tag, after);
    if (start == std::string::npos)
        return {};
    size_t end = xml.find('>', start);
    return xml.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

TEST(Manifest, NamesEveryRequiredElement) {
    std::string xml = ManifestText();
    ASSERT_FALSE(xml.empty()) << "RT_MANIFEST 1 missing";
    struct Row {
        const char* What;
        std::string Element;
        std::vector<const char*> Parts;
    } const rows[] = {
        {"identity",
         Element(xml, "assemblyIdentity"),
         {"name=\"Tessel\"", "version=\"2.0.0.0\"", "type=\"win32\"",
          "processorArchitecture=\"*\""}},
        {"common controls",
         Element(xml, "assemblyIdentity", xml.find("<dependentAssembly")),
         {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", "type=\"win32\"",
          "processorArchitecture=\"*\"", "language=\"*\""}},
        {"execution level",
         Element(xml, "requestedExecutionLevel"),
         {"level=\"asInvoker\"", "uiAccess=\"false\""}},
        {"description", xml, {"<description>Tessel</description>"}},
        {"systems",
         xml,
         {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"}},
        {"dpi", xml, {">true</dpiAware>"}},
    };
    for (const Row& r : rows)
        for (const char* part : r.Parts)
            EXPECT_NE(r.Element.find(part), std::string::npos)
                << r.What << ": " << part << " in " << r.Element.substr(0, 400);
    size_t count = 0;
    for (size_t at = xml.find("<supportedOS"); at != std::string::npos;
         at = xml.find("<supportedOS", at + 1))
        ++count;
    EXPECT_EQ(count, 3u) << "Vista, 7 and 8 only, so that later systems report 6.2";
}

TEST(Manifest, SelectsCommonControlsSix) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LINK_CLASS};
    InitCommonControlsEx(&icc);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
    std::string p = Narrow(path);
    for (char& ch : p)
        ch = char(tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(p.find("winsxs"), std::string::npos) << p;
}

TEST(VersionInfo, NamesTheProduct) {
    std::vector<uint8_t> raw = ResourceBytes(RT_VERSION, 1);
    ASSERT_FALSE(raw.empty()) << "no VERSIONINFO";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(raw.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020005u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020005u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    struct Row {
        const wchar_t* Key;
        const char* Want; // nullptr: any non-empty text
    } const rows[] = {
        {L"ProductName", "Tessel"},   {L"OriginalFilename", "tessel.exe"},
        {L"FileVersion", "2.5.0.0"},  {L"ProductVersion", "2.5.0.0"},
        {L"CompanyName", nullptr},    {L"FileDescription", nullptr},
        {L"LegalCopyright", nullptr},
    };
    for (const Row& r : rows) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + r.Key;
        wchar_t* value = nullptr;
        bool found =
            VerQueryValueW(raw.data(), key.c_str(), reinterpret_cast<void**>(&value), &len);
        ASSERT_TRUE(found && value) << Narrow(r.Key);
        if (r.Want) {
            EXPECT_EQ(Narrow(value), r.Want) << Narrow(r.Key);
        } else {
            EXPECT_GT(std::wcslen(value), 3u) << Narrow(r.Key);
        }
    }
}

} // namespace
