#include "dialogs/diskinfo.h"

#include <iterator>

#include "app/globals.h"
#include "disklist/listview.h"
#include "resources/resource.h"
#include "vdisk/diskimage.h"

namespace {

struct UnitStep {
    unsigned Shift;
    const wchar_t* Label;
};

constexpr UnitStep UnitLadder[] = {
    {40, UnitTerabytes}, {30, UnitGigabytes}, {20, UnitMegabytes}, {10, UnitKilobytes}};

const wchar_t* SubtypeName(DWORD subtype) {
    switch (subtype) {
    case 2:
        return SubtypeFixedText;
    case 3:
        return SubtypeDynamicText;
    case 4:
        return SubtypeDifferencingText;
    default:
        return SubtypeUnknownText;
    }
}

// The image handle of the one selected row when it is the current row and mounted.
HANDLE CurrentMountedImage() {
    int current = GetCurrentRow();
    if (current == -1)
        return nullptr;
    int selected = 0;
    for (int row = 0, count = RowCount(); row < count; ++row)
        selected += IsRowSelected(row);
    if (selected > 1 || !IsRowSelected(current))
        return nullptr;
    return GetRowHandle(current);
}

void ShowSizes(HWND dialog) {
    const auto& size = App.DiskInfo.Size;
    const ULONGLONG values[] = {size.VirtualSize, size.PhysicalSize, size.BlockSize,
                                size.SectorSize};
    const int numberIds[] = {IDC_VIRTUAL_SIZE, IDC_PHYSICAL_SIZE, IDC_BLOCK_SIZE, IDC_SECTOR_SIZE};
    const int unitIds[] = {IDC_VIRTUAL_SIZE_UNIT, IDC_PHYSICAL_SIZE_UNIT, IDC_BLOCK_SIZE_UNIT,
                           IDC_SECTOR_SIZE_UNIT};
    ULONGLONG scaled[std::size(values)];
    for (size_t i = 0; i < std::size(values); ++i) {
        const wchar_t* unit = nullptr;
        scaled[i] = ScaleToUnit(values[i], &unit);
        SetDlgItemTextW(dialog, unitIds[i], unit);
    }
    for (size_t i = 0; i < std::size(values); ++i)
        SetDlgItemTextW(dialog, numberIds[i], FormatDecimal(scaled[i]));
}

void FillDialog(HWND dialog, HANDLE image) {
    if (QueryDiskInfo(image, GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE))
        SetDlgItemTextW(dialog, IDC_SUBTYPE, SubtypeName(App.DiskInfo.ProviderSubtype));
    if (QueryDiskInfo(image, GET_VIRTUAL_DISK_INFO_SIZE))
        ShowSizes(dialog);
}

} // namespace

bool DiskInfoAvailable() {
    return CurrentMountedImage() != nullptr;
}

void ShowDiskInfo() {
    HANDLE image = CurrentMountedImage();
    if (!image)
        return;
    DialogBoxParamW(App.Instance, MAKEINTRESOURCEW(IDD_DISKINFO), nullptr, DiskInfoDlgProc,
                    reinterpret_cast<LPARAM>(image));
}

// Returns 0 throughout: after WM_INITDIALOG that leaves the keyboard focus alone.
INT_PTR CALLBACK DiskInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        FillDialog(dialog, reinterpret_cast<HANDLE>(lParam));
    else if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, 1);
    return 0;
}

ULONGLONG ScaleToUnit(ULONGLONG value, const wchar_t** unit) {
    for (const UnitStep& step : UnitLadder)
        if (value >> step.Shift) {
            *unit = step.Label;
            return value >> step.Shift;
        }
    *unit = UnitBytes;
    return value;
}

const wchar_t* FormatDecimal(ULONGLONG value) {
    wchar_t* buffer = App.DecimalBuffer;
    ZeroMemory(buffer, sizeof App.DecimalBuffer);
    // The last character stays the terminator; digits grow leftwards from the one before.
    wchar_t* digit = buffer + std::size(App.DecimalBuffer) - 1;
    do {
        *--digit = wchar_t(L'0' + value % 10);
        value /= 10;
    } while (value);
    return digit;
}
