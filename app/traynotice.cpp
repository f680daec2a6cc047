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

std::wstring ShortenPath(const std::wstring& path, size_t most) {
    if (path.size() <= most)
        return path;
    // The drive or share and the file name say the most.
    const size_t head = most / 3, tail = most - head - 1;
    return path.substr(0, head) + Ellipsis + path.substr(path.size() - tail);
}

std::wstring NoticeText(const std::vector<NoticeLine>& lines, size_t most) {
    wchar_t more[32];
    std::wstring text;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::wstring line = ShortenPath(lines[i].Path, NoticePathChars);
        if (lines[i].Reason)
            line = line + NoticeReasonBreak + lines[i].Reason;
        line += L'\n';
        // Room for the count of the lines left out, should the next not fit.
        wsprintfW(more, NoticeMoreFormat, unsigned(lines.size()));
        const bool last = i + 1 == lines.size();
        const size_t reserve = (last ? 0 : lstrlenW(more)) + ARRAYSIZE(NoticeClickText) - 1;
        if (text.size() + line.size() + reserve > most) {
            wsprintfW(more, NoticeMoreFormat, unsigned(lines.size() - i));
            text += more;
            break;
        }
        text += line;
    }
    return text + NoticeClickText;
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

void ShowTrayNotice(const wchar_t* title, const std::vector<NoticeLine>& lines, DWORD flags) {
    if (!TrayIconShown())
        return;
    // A copy: the record's own balloon is the hint that every add shows.
    NOTIFYICONDATAW notice = App.TrayIconRecord;
    notice.uFlags = NIF_INFO;
    lstrcpynW(notice.szInfo, NoticeText(lines, ARRAYSIZE(notice.szInfo) - 1).c_str(),
              ARRAYSIZE(notice.szInfo));
    lstrcpynW(notice.szInfoTitle, title, ARRAYSIZE(notice.szInfoTitle));
    notice.dwInfoFlags = flags;
    Shell_NotifyIconW(NIM_MODIFY, &notice);
}
