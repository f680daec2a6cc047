#include "app/traynotice.h"
#include "app/globals.h"
#include "app/mainwindow.h"

namespace {

constexpr wchar_t Ellipsis[] = L"\u2026";

// The icon exists exactly while the window is hidden.
bool TrayIconShown() {
    return App.MainWindow && !IsWindowVisible(App.MainWindow);
}

} // namespace

const wchar_t* NotMountedTitle(size_t images) {
    static wchar_t title[ARRAYSIZE(NOTIFYICONDATAW{}.szInfoTitle)];
    if (images == 1)
        return NotMountedTitleOne;
    wsprintfW(title, NotMountedTitleFormat, unsigned(images));
    return title;
}

void AppendShortPath(wchar_t* text, const wchar_t* path, size_t most) {
    const size_t length = lstrlenW(path);
    if (length <= most) {
        lstrcatW(text, path);
        return;
    }
    // The drive or share and the file name say the most.
    const size_t head = most / 3, tail = most - head - 1;
    wchar_t* end = text + lstrlenW(text);
    lstrcpynW(end, path, int(head + 1));
    lstrcatW(end, Ellipsis);
    lstrcatW(end, path + length - tail);
}

void NoticeText(const NoticeLine* lines, size_t count, wchar_t (&text)[256]) {
    constexpr size_t Most = ARRAYSIZE(text) - 1;
    const size_t click = lstrlenW(NoticeClickText);
    // Room for the count of the lines left out, should the next not fit.
    wchar_t more[32];
    const size_t moreRoom = wsprintfW(more, NoticeMoreFormat, unsigned(count));
    text[0] = L'\0';
    for (size_t i = 0; i < count; ++i) {
        wchar_t line[NoticePathChars + 64] = L"";
        AppendShortPath(line, lines[i].Path, NoticePathChars);
        if (lines[i].Reason) {
            lstrcatW(line, NoticeReasonBreak);
            lstrcpynW(line + lstrlenW(line), lines[i].Reason,
                      int(ARRAYSIZE(line) - lstrlenW(line) - 1));
        }
        lstrcatW(line, L"\n");
        const size_t reserve = (i + 1 == count ? 0 : moreRoom) + click;
        if (lstrlenW(text) + lstrlenW(line) + reserve > Most) {
            wsprintfW(more, NoticeMoreFormat, unsigned(count - i));
            lstrcatW(text, more);
            break;
        }
        lstrcatW(text, line);
    }
    lstrcatW(text, NoticeClickText);
}

void ShowMountSummaryTip(int marked, int mounted, int waiting) {
    NOTIFYICONDATAW& tray = App.TrayIconRecord;
    wchar_t tip[ARRAYSIZE(tray.szTip)];
    if (mounted == marked) {
        lstrcpynW(tip, TrayTipText, ARRAYSIZE(tip));
    } else {
        int length = wsprintfW(tip, TipSummaryFormat, mounted, marked);
        if (waiting)
            wsprintfW(tip + length, TipWaitingFormat, waiting);
    }
    if (lstrcmpW(tray.szTip, tip) == 0)
        return;
    lstrcpynW(tray.szTip, tip, ARRAYSIZE(tray.szTip));
    if (!TrayIconShown())
        return;
    NOTIFYICONDATAW change = tray;
    change.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &change);
}

void ShowTrayNotice(const wchar_t* title, const NoticeLine* lines, size_t count, DWORD flags) {
    if (!TrayIconShown())
        return;
    // A copy: the record's own balloon is the hint that every add shows.
    NOTIFYICONDATAW notice = App.TrayIconRecord;
    notice.uFlags = NIF_INFO;
    NoticeText(lines, count, notice.szInfo);
    lstrcpynW(notice.szInfoTitle, title, ARRAYSIZE(notice.szInfoTitle));
    notice.dwInfoFlags = flags;
    Shell_NotifyIconW(NIM_MODIFY, &notice);
}
