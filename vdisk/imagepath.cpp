#include "vdisk/imagepath.h"
#include <cwchar>

namespace {

constexpr const wchar_t* DeviceNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveRoot(const wchar_t* p) {
    wchar_t letter = p[0] | 0x20;
    return letter >= L'a' && letter <= L'z' && p[1] == L':' && IsSeparator(p[2]);
}

// The text after one non-empty part and its separator; null when there is none.
const wchar_t* AfterPart(const wchar_t* p) {
    const wchar_t* start = p;
    while (*p && !IsSeparator(*p))
        ++p;
    return p == start || !*p ? nullptr : p + 1;
}

// "server\share\rest": the rest. The servers "." and "?" are the device namespaces.
const wchar_t* AfterShare(const wchar_t* p) {
    if ((p[0] == L'.' || p[0] == L'?') && IsSeparator(p[1]))
        return nullptr;
    const wchar_t* share = AfterPart(p);
    return share ? AfterPart(share) : nullptr;
}

// The path within its volume, for "X:\", "\\server\share\" and their "\\?\" forms.
const wchar_t* WithinVolume(const wchar_t* path) {
    if (IsDriveRoot(path))
        return path + 3;
    if (!IsSeparator(path[0]) || !IsSeparator(path[1]))
        return nullptr;
    const wchar_t* p = path + 2;
    if (p[0] != L'?' || !IsSeparator(p[1]))
        return AfterShare(p);
    p += 2;
    if (IsDriveRoot(p))
        return p + 3;
    return _wcsnicmp(p, L"UNC\\", 4) == 0 ? AfterShare(p + 4) : nullptr;
}

// CON, COM1, "lpt1 .vhd" and the like name devices whatever folder they seem to be in.
bool NamesDevice(const wchar_t* name) {
    size_t length = wcscspn(name, L".:");
    while (length && name[length - 1] == L' ')
        --length;
    if (length == 4 && name[3] >= L'1' && name[3] <= L'9' &&
        (_wcsnicmp(name, L"COM", 3) == 0 || _wcsnicmp(name, L"LPT", 3) == 0))
        return true;
    for (const wchar_t* device : DeviceNames)
        if (wcslen(device) == length && _wcsnicmp(name, device, length) == 0)
            return true;
    return false;
}

} // namespace

bool IsImageFilePath(const wchar_t* path) {
    const wchar_t* rest = path ? WithinVolume(path) : nullptr;
    if (!rest || !*rest)
        return false;
    const wchar_t* name = rest;
    for (const wchar_t* p = rest; *p; ++p)
        if (IsSeparator(*p))
            name = p + 1;
    return *name && !NamesDevice(name);
}

size_t VolumeRootLength(const wchar_t* path) {
    const wchar_t* rest = path ? WithinVolume(path) : nullptr;
    return rest ? size_t(rest - path) : 0;
}
