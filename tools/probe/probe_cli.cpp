// probe.exe: the probe library for scripts. Works on the running Tessel of this prefix.
//   probe wait-idle [ms]   wait until start-up has finished and the loop is idle
//   probe rows             print every row: path, status, startup text, check, images
//   probe show             the tray double-click; waits until the window is shown
//   probe tray             say whether the tray icon is there
//   probe boxes            list the message boxes Tessel shows
//   probe press ID         press button ID in Tessel's first message box
//   probe select CUR [ROW...]  select exactly these rows and make CUR the current row
//   probe quit [ms]        the quit request; waits for the end and prints the exit code
//   probe menu ROW         right-clicks row ROW (-1: below the rows), prints the context
//                          menu's items and leaves it open
//   probe choose ID        clicks item ID of the open context menu
//   probe check ROW        clicks the check box of row ROW; waits until it has turned
//   probe delete ROW       selects row ROW with a click and presses Delete; waits until it is gone
//   probe type TEXT        types TEXT and Enter into Tessel's open dialog; waits until it closes
//   probe command ID       posts menu command ID to the main window, as the menu bar does
#include "probe.h"
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Print(const std::wstring& text) {
    std::string utf8 = probe::Narrow(text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), DWORD(utf8.size()), &written, nullptr);
}

int Fail(const std::wstring& text) {
    Print(L"probe: " + text + L"\n");
    return 2;
}

DWORD Milliseconds(int argc, wchar_t** argv, DWORD fallback) {
    return argc > 2 ? DWORD(_wtoi(argv[2])) : fallback;
}

std::wstring Images(const probe::Row& row) {
    return std::to_wstring(row.PathImage) + L"/" + std::to_wstring(row.StatusImage) + L"/" +
           std::to_wstring(row.StartupImage);
}

int Rows(const probe::Target& target) {
    std::vector<probe::Row> rows;
    if (!target.ReadRows(&rows))
        return Fail(L"cannot read the list");
    for (const probe::Row& row : rows)
        Print(row.Path + L"\t" + row.Status + L"\t" + row.Startup + L"\t" +
              (row.CheckState == 2 ? L"checked" : L"unchecked") + L"\t" + Images(row) + L"\n");
    return 0;
}

int Boxes(const probe::Target& target) {
    for (const probe::Box& box : target.Boxes()) {
        std::wstring buttons;
        for (const probe::BoxButton& button : box.Buttons)
            buttons += L" [" + std::to_wstring(button.Id) + L" " + button.Text + L"]";
        Print(box.Caption + L"\t" + box.Text + L"\t" + buttons + L"\n");
    }
    return 0;
}

POINT PointOf(const probe::Target& target, int row) {
    if (row >= 0)
        return target.RowPoint(row);
    RECT client = {};
    GetClientRect(target.List(), &client);
    return {client.right / 2, client.bottom - 20};
}

int Menu(probe::Target& target, int row) {
    target.Click(target.List(), PointOf(target, row), true);
    std::vector<probe::AgentMenuItem> items;
    if (!target.WaitMenu(5000, &items))
        return Fail(L"no context menu");
    for (const probe::AgentMenuItem& item : items)
        Print(std::to_wstring(item.Id) +
              ((item.State & MFS_GRAYED) ? L"\tgrey\n" : L"\tenabled\n"));
    return 0;
}

int Check(const probe::Target& target, int row) {
    auto checkState = [&] {
        std::vector<probe::Row> rows = target.Rows();
        return row < int(rows.size()) ? rows[row].CheckState : -1;
    };
    const int before = checkState();
    target.Click(target.List(), target.CheckBoxPoint(row));
    return probe::WaitFor(5000, [&] { return checkState() != before; }) ? 0 : Fail(L"no change");
}

int Delete(const probe::Target& target, int row) {
    const int count = target.RowCount();
    target.Click(target.List(), target.RowPoint(row));
    target.PressKeys({VK_DELETE});
    return probe::WaitFor(5000, [&] { return target.RowCount() < count; })
               ? 0
               : Fail(L"nothing removed");
}

int Type(const probe::Target& target, const wchar_t* text) {
    probe::Box dialog;
    if (!target.WaitBox(5000, &dialog) || !target.TypeLine(text))
        return Fail(L"no dialog");
    return probe::WaitFor(5000, [&] { return !IsWindow(dialog.Window); })
               ? 0
               : Fail(L"dialog still open");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return Fail(L"usage: probe wait-idle|rows|show|tray|boxes|press ID|select CUR "
                    L"[ROW...]|quit|menu ROW|choose ID|check ROW|delete ROW|type TEXT|command ID");
    std::wstring command = argv[1];
    probe::Target target;
    if (!target.Attach(command == L"wait-idle" ? Milliseconds(argc, argv, 30000) : 2000))
        return Fail(L"no running Tessel window");

    if (command == L"wait-idle")
        return target.WaitIdle(Milliseconds(argc, argv, 30000)) ? 0 : Fail(L"not idle in time");
    if (command == L"rows")
        return Rows(target);
    if (command == L"show") {
        target.PostTrayDoubleClick();
        if (!probe::WaitFor(5000, [&] { return target.WindowVisible(); }))
            return Fail(L"the window did not show");
        // The icon goes just after the window shows.
        bool iconGone = probe::WaitFor(2000, [&] { return !target.TrayIconPresent(); });
        Print(std::wstring(L"window shown; tray icon ") + (iconGone ? L"removed" : L"still there") +
              L"\n");
        return 0;
    }
    if (command == L"tray") {
        Print(target.TrayIconPresent() ? L"tray icon present\n" : L"no tray icon\n");
        return 0;
    }
    if (command == L"boxes")
        return Boxes(target);
    if (command == L"press") {
        probe::Box box;
        if (argc < 3 || !target.WaitBox(2000, &box))
            return Fail(L"no message box");
        return probe::PressButton(box, _wtoi(argv[2])) ? 0 : Fail(L"no such button");
    }
    if (command == L"select" && argc > 2) {
        std::vector<int> rows;
        for (int i = 3; i < argc; ++i)
            rows.push_back(_wtoi(argv[i]));
        if (!target.Select(rows))
            return Fail(L"cannot select");
        SendMessageW(target.List(), LVM_SETHOTITEM, _wtoi(argv[2]), 0);
        return 0;
    }
    if (command == L"quit") {
        target.PostQuitRequest();
        DWORD code = 0;
        if (!target.WaitExit(Milliseconds(argc, argv, 10000), &code))
            return Fail(L"Tessel did not end");
        Print(L"Tessel ended with exit code " + std::to_wstring(code) + L"\n");
        return 0;
    }
    const wchar_t* argument = argc > 2 ? argv[2] : L"";
    if (command == L"menu")
        return Menu(target, _wtoi(argument));
    if (command == L"choose")
        return target.ChooseMenuItem(UINT(_wtoi(argument))) ? 0 : Fail(L"no such menu item");
    if (command == L"check")
        return Check(target, _wtoi(argument));
    if (command == L"delete")
        return Delete(target, _wtoi(argument));
    if (command == L"type")
        return Type(target, argument);
    if (command == L"command")
        return target.Post(WM_COMMAND, WPARAM(_wtoi(argument)), 0) ? 0 : Fail(L"not posted");
    return Fail(L"unknown command " + command);
}
