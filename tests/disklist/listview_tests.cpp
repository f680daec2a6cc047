// The row operations on the real list control, with the notifications it sends its parent.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "disklist/listproc.h"
#include "disklist/listview.h"
#include "item_changed.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<ItemChanged> Recorded;

// What the list was created with, as the system saw the request.
CREATESTRUCTW Created = {};

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        wchar_t cls[32] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), cls, ARRAYSIZE(cls));
        if (lstrcmpW(cls, WC_LISTVIEWW) == 0)
            Created = *reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change->hdr.code == LVN_ITEMCHANGED)
            Recorded.push_back({change->iItem, change->uNewState, change->uOldState});
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class DiskListRows : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        App.Instance = GetModuleHandleW(nullptr);
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = App.Instance;
        wc.lpszClassName = L"DiskListTestParent";
        RegisterClassW(&wc);
        App.MainWindow = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 900,
                                         500, nullptr, nullptr, App.Instance, nullptr);
        App.PathBuffer.reset(
            static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, PathBufferChars * 2)));
        HHOOK hook = SetWindowsHookExW(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
        int created = CreateDiskList();
        UnhookWindowsHookEx(hook);
        ASSERT_EQ(1, created);
        BuildImageList();
        AttachDiskListImages(ImageListObject.List);
    }
    void SetUp() override {
        SendMessageW(App.DiskList, LVM_DELETEALLITEMS, 0, 0);
        Recorded.clear();
    }
    static void AddRows(std::initializer_list<const wchar_t*> paths) {
        for (const wchar_t* path : paths)
            ASSERT_TRUE(InsertDiskRow(path));
    }
    static std::wstring Text(int row, int subItem) {
        wchar_t text[256] = {};
        LVITEMW item = {};
        item.iSubItem = subItem;
        item.pszText = text;
        item.cchTextMax = 256;
        SendMessageW(App.DiskList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    static int Image(int row, int subItem) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iSubItem = subItem;
        item.iImage = -99;
        SendMessageW(App.DiskList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    static UINT StateImage(int row) {
        return static_cast<UINT>(
            SendMessageW(App.DiskList, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    }
};

} // namespace

TEST_F(DiskListRows, ControlHasItsStylesColumnsAndSubclass) {
    RECT client = {};
    GetClientRect(App.MainWindow, &client);
    EXPECT_EQ(0x50300001, Created.style);
    EXPECT_EQ(0u, Created.dwExStyle);
    EXPECT_EQ(App.MainWindow, Created.hwndParent);
    EXPECT_EQ(reinterpret_cast<HMENU>(1), Created.hMenu);
    EXPECT_EQ(0, Created.x);
    EXPECT_EQ(0, Created.y);
    EXPECT_EQ(client.right, Created.cx);
    EXPECT_EQ(client.bottom, Created.cy);
    EXPECT_TRUE(GetWindowLongW(App.DiskList, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(0x10010027, SendMessageW(App.DiskList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(GetWindowLongW(App.DiskList, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_EQ(1, GetDlgCtrlID(App.DiskList));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(ListWindowProc),
              GetWindowLongPtrW(App.DiskList, GWLP_WNDPROC));
    EXPECT_NE(nullptr, App.DiskListProc);
    EXPECT_EQ(reinterpret_cast<LPARAM>(ImageListObject.List),
              SendMessageW(App.DiskList, LVM_GETIMAGELIST, LVSIL_SMALL, 0));

    const struct {
        const wchar_t* Title;
        int Width;
    } columns[] = {{L"Virtual disk file name", 220}, {L"Status", 190}, {L"Mount at startup", 210}};
    for (int i = 0; i < 3; ++i) {
        wchar_t title[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = title;
        column.cchTextMax = 64;
        ASSERT_TRUE(
            SendMessageW(App.DiskList, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)))
            << i;
        EXPECT_STREQ(columns[i].Title, title) << i;
        EXPECT_EQ(columns[i].Width, column.cx) << i;
        EXPECT_EQ(LVCFMT_LEFT, column.fmt & LVCFMT_JUSTIFYMASK) << i;
    }
    LVCOLUMNW fourth = {};
    fourth.mask = LVCF_WIDTH;
    EXPECT_FALSE(SendMessageW(App.DiskList, LVM_GETCOLUMNW, 3, reinterpret_cast<LPARAM>(&fourth)));
}

TEST_F(DiskListRows, NewRowIsUncheckedWithoutHandleShowingTheDiskImage) {
    AddRows({L"C:\\a.vhd", L"C:\\b.vhdx"});
    ASSERT_EQ(2, RowCount());
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(nullptr, GetRowHandle(row)) << row;
        EXPECT_EQ(0, Image(row, 0)) << row;
        EXPECT_EQ(L"", Text(row, 1)) << row;
        EXPECT_EQ(L"", Text(row, 2)) << row;
    }
    EXPECT_EQ(L"C:\\b.vhdx", Text(1, 0));
    EXPECT_TRUE(Recorded.empty() || Recorded.front().NewState == 0x1000)
        << "insertion must not check a row";
}

TEST_F(DiskListRows, PathsReadBackWholeUpToTheBufferAndAreCutBeyond) {
    const size_t lengths[] = {1, 260, 32799, 32800, 40000};
    for (size_t length : lengths) {
        SendMessageW(App.DiskList, LVM_DELETEALLITEMS, 0, 0);
        std::wstring path(length, L'p');
        path[0] = L'C';
        ASSERT_TRUE(InsertDiskRow(path.c_str())) << length;
        ASSERT_TRUE(ReadRowPath(0)) << length;
        std::wstring expected = path.substr(0, std::min<size_t>(length, PathBufferChars - 1));
        EXPECT_EQ(expected.size(), wcslen(App.PathBuffer.get())) << length;
        EXPECT_TRUE(expected == App.PathBuffer.get()) << length;
    }
    EXPECT_FALSE(ReadRowPath(5)) << "a row past the end";
}

TEST_F(DiskListRows, FindRowByPathIgnoresCaseButNotLength) {
    EXPECT_EQ(-1, FindRowByPath(L"C:\\a.vhd")) << "empty list";
    AddRows({L"C:\\Images\\a.vhd", L"C:\\Images\\ab.vhd", L"D:\\b.iso"});
    struct Case {
        const wchar_t* Path;
        int Row;
    } cases[] = {{L"C:\\Images\\a.vhd", 0},  {L"c:\\IMAGES\\A.VHD", 0},
                 {L"C:\\Images\\ab.vhd", 1}, {L"d:\\B.ISO", 2},
                 {L"C:\\Images\\a", -1},     {L"C:\\Images", -1},
                 {L"D:\\b.iso.bak", -1},     {L"", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(c.Row, FindRowByPath(c.Path)) << testing::PrintToString(std::wstring(c.Path));
}

TEST_F(DiskListRows, HandlesLiveInTheItemData) {
    AddRows({L"C:\\a.vhd", L"C:\\b.vhd"});
    auto handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_TRUE(SetRowHandle(1, handle));
    EXPECT_EQ(handle, GetRowHandle(1));
    EXPECT_EQ(nullptr, GetRowHandle(0));
    EXPECT_EQ(nullptr, GetRowHandle(2)) << "past the last row";
    EXPECT_EQ(nullptr, GetRowHandle(-5));
    EXPECT_FALSE(SetRowHandle(7, handle));
    EXPECT_TRUE(SetRowHandle(1, nullptr));
    EXPECT_EQ(nullptr, GetRowHandle(1));
}

TEST_F(DiskListRows, CheckBoxStateIndexOneAloneMeansUnchecked) {
    AddRows({L"C:\\a.vhd"});
    struct Case {
        UINT State;
        bool Checked;
    } cases[] = {{0x0000, true}, {0x1000, false}, {0x2000, true}, {0x3000, true}};
    for (const Case& c : cases) {
        LVITEMW item = {};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = c.State;
        SendMessageW(App.DiskList, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
        ASSERT_EQ(c.State, StateImage(0));
        EXPECT_EQ(c.Checked, IsRowChecked(0)) << "state 0x" << std::hex << c.State;
    }
}

TEST_F(DiskListRows, CheckingSendsItemChangedOnlyOnAChange) {
    AddRows({L"C:\\a.vhd", L"C:\\b.vhd"});
    Recorded.clear();
    SetRowChecked(1, true);
    SetRowChecked(1, true);
    SetRowChecked(1, false);
    SetRowChecked(0, false);
    EXPECT_EQ(0x1000u, StateImage(1));
    EXPECT_EQ((std::vector<ItemChanged>{{1, 0x2000, 0x1000}, {1, 0x1000, 0x2000}}), Recorded);
}

TEST_F(DiskListRows, StatusAndStartupShowTheirTextsAndImages) {
    AddRows({L"C:\\a.vhd", L"C:\\b.vhd"});
    SetRowStartup(0, true);
    SetRowStartup(1, false);
    EXPECT_EQ(L"Yes, mount at Windows startup", Text(0, 2));
    EXPECT_EQ(2, Image(0, 2));
    EXPECT_EQ(L"No, don't mount at Windows startup", Text(1, 2));
    EXPECT_EQ(3, Image(1, 2));

    SetRowStatus(0, L"Error open VHD");
    SetRowStatusError(0);
    EXPECT_EQ(1, Image(0, 1));
    SetRowStatus(0, L"Mounted");
    EXPECT_EQ(L"Mounted", Text(0, 1));
    EXPECT_EQ(1, Image(0, 1)) << "the error mark stays for the life of the row";
    EXPECT_NE(1, Image(1, 1));
}

TEST_F(DiskListRows, RemovingARowMovesLaterRowsDown) {
    AddRows({L"C:\\0.vhd", L"C:\\1.vhd", L"C:\\2.vhd", L"C:\\3.vhd", L"C:\\4.vhd"});
    SetRowHandle(3, reinterpret_cast<HANDLE>(0x33));
    RemoveRow(2);
    ASSERT_EQ(4, RowCount());
    EXPECT_EQ(L"C:\\3.vhd", Text(2, 0));
    EXPECT_EQ(L"C:\\4.vhd", Text(3, 0));
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x33), GetRowHandle(2));
}

TEST_F(DiskListRows, SelectionAndCurrentRow) {
    AddRows({L"C:\\0.vhd", L"C:\\1.vhd"});
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(App.DiskList, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(IsRowSelected(0));
    EXPECT_TRUE(IsRowSelected(1));
    SetCurrentRow(1);
    EXPECT_EQ(1, GetCurrentRow());
    SetCurrentRow(-1);
    EXPECT_EQ(-1, GetCurrentRow());
}
