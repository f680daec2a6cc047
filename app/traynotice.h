// What the notification area tells the user about the logon mount while the window is
// hidden: the tooltip's summary and the few balloons.
#pragma once
#include <windows.h>

constexpr wchar_t TipSummaryFormat[] = L"Tessel: %d of %d disks mounted";
constexpr wchar_t TipWaitingFormat[] = L", %d waiting";

constexpr wchar_t NotMountedTitleOne[] = L"A disk is not mounted";
constexpr wchar_t NotMountedTitleFormat[] = L"%u disks are not mounted";
constexpr wchar_t MountedLaterTitle[] = L"Mounted now";
constexpr wchar_t GaveUpTitle[] = L"Tessel has stopped trying";
constexpr wchar_t NoticeClickText[] = L"Click here to open the list.";
constexpr wchar_t NoticeMoreFormat[] = L"and %u more\n";
constexpr wchar_t NoticeReasonBreak[] = L": ";

constexpr wchar_t ReasonDriveMissing[] = L"the drive is not connected";
constexpr wchar_t ReasonInUse[] = L"the file is in use by another program";
constexpr wchar_t ReasonNetwork[] = L"the network path cannot be reached";
constexpr wchar_t ReasonNotDiskImage[] = L"the file is not a valid disk image";
constexpr wchar_t ReasonNeedsAdmin[] = L"Tessel needs administrator rights";

// A path longer than this gives way to the lines after it.
constexpr size_t NoticePathChars = 60;

struct NoticeLine {
    const wchar_t* Path;
    const wchar_t* Reason; // null: the path alone
};

// The title of the logon balloon for this many images.
const wchar_t* NotMountedTitle(size_t images);
// The path itself when it fits, else its start and end around an ellipsis: at most `most`
// characters, appended to text.
void AppendShortPath(wchar_t* text, const wchar_t* path, size_t most);
// One line per image, as many as fit the balloon's text, then how many more, then what a
// click does.
void NoticeText(const NoticeLine* lines, size_t count, wchar_t (&text)[256]);

// The tooltip says how many marked disks are mounted while any is not, else the usual hint.
void ShowMountSummaryTip(int marked, int mounted, int waiting);
// A balloon on the icon; none while the window shows (there is no icon then).
void ShowTrayNotice(const wchar_t* title, const NoticeLine* lines, size_t count, DWORD flags);
