// The information dialog for one mounted image: sizes with units, and the image's kind.
#pragma once
#include <windows.h>

// Subtype names for the provider-specific subtype the service reports.
constexpr wchar_t SubtypeFixedText[] = L"Fixed";
constexpr wchar_t SubtypeDynamicText[] = L"Dynamically expandable (sparse)";
constexpr wchar_t SubtypeDifferencingText[] = L"Differencing";
constexpr wchar_t SubtypeUnknownText[] = L"Unknown";

constexpr wchar_t UnitTerabytes[] = L"Terabytes";
constexpr wchar_t UnitGigabytes[] = L"Gigabytes";
constexpr wchar_t UnitMegabytes[] = L"Megabytes";
constexpr wchar_t UnitKilobytes[] = L"Kilobytes";
constexpr wchar_t UnitBytes[] = L"Bytes";

// Opens the dialog for the current row when it is the one selected row and is mounted;
// otherwise shows nothing.
void ShowDiskInfo();
// Whether ShowDiskInfo would show the dialog now; its menu item is greyed otherwise.
bool DiskInfoAvailable();
INT_PTR CALLBACK DiskInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The largest power-of-1024 unit the value reaches; returns the whole number of that unit.
ULONGLONG ScaleToUnit(ULONGLONG value, const wchar_t** unit);
// Decimal digits in App.DecimalBuffer, valid until the next call.
const wchar_t* FormatDecimal(ULONGLONG value);
