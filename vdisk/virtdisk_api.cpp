#include "vdisk/virtdisk_api.h"

namespace {

enum Function { Open, Attach, Detach, Compact, GetInformation, FunctionCount };

constexpr const char* FunctionNames[FunctionCount] = {"OpenVirtualDisk", "AttachVirtualDisk",
                                                      "DetachVirtualDisk", "CompactVirtualDisk",
                                                      "GetVirtualDiskInformation"};

struct LoadedFunctions {
    bool Tried;
    FARPROC Address[FunctionCount];
    DWORD Error[FunctionCount];
};

LoadedFunctions Loaded;

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + lstrlenW(name) >= MAX_PATH)
        return nullptr;
    lstrcatW(path, name);
    return LoadLibraryExW(path, nullptr, 0);
}

void LoadOnce() {
    if (Loaded.Tried)
        return;
    Loaded.Tried = true;
    HMODULE library = LoadLibraryExW(L"virtdisk.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without KB2533623 knows no search flags; a full path is just as safe.
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadSystemLibrary(L"\\virtdisk.dll");
    DWORD libraryError = library ? 0 : GetLastError();
    for (int i = 0; i < FunctionCount; ++i) {
        Loaded.Address[i] = library ? GetProcAddress(library, FunctionNames[i]) : nullptr;
        Loaded.Error[i] = library ? (Loaded.Address[i] ? 0 : GetLastError()) : libraryError;
    }
}

// Calls the function as its own type, or returns the loader's code when it is missing.
template <typename Signature, typename... Args> DWORD Call(Function function, Args... args) {
    LoadOnce();
    if (!Loaded.Address[function])
        return Loaded.Error[function];
    return reinterpret_cast<Signature*>(reinterpret_cast<void*>(Loaded.Address[function]))(args...);
}

} // namespace

DWORD VirtDiskOpen(PVIRTUAL_STORAGE_TYPE type, PCWSTR path, VIRTUAL_DISK_ACCESS_MASK access,
                   OPEN_VIRTUAL_DISK_FLAG flags, POPEN_VIRTUAL_DISK_PARAMETERS parameters,
                   PHANDLE handle) {
    return Call<decltype(OpenVirtualDisk)>(Open, type, path, access, flags, parameters, handle);
}

DWORD VirtDiskAttach(HANDLE handle, PSECURITY_DESCRIPTOR security, ATTACH_VIRTUAL_DISK_FLAG flags,
                     ULONG providerFlags, PATTACH_VIRTUAL_DISK_PARAMETERS parameters,
                     LPOVERLAPPED overlapped) {
    return Call<decltype(AttachVirtualDisk)>(Attach, handle, security, flags, providerFlags,
                                             parameters, overlapped);
}

DWORD VirtDiskDetach(HANDLE handle, DETACH_VIRTUAL_DISK_FLAG flags, ULONG providerFlags) {
    return Call<decltype(DetachVirtualDisk)>(Detach, handle, flags, providerFlags);
}

DWORD VirtDiskCompact(HANDLE handle, COMPACT_VIRTUAL_DISK_FLAG flags,
                      PCOMPACT_VIRTUAL_DISK_PARAMETERS parameters, LPOVERLAPPED overlapped) {
    return Call<decltype(CompactVirtualDisk)>(Compact, handle, flags, parameters, overlapped);
}

DWORD VirtDiskGetInformation(HANDLE handle, PULONG size, PGET_VIRTUAL_DISK_INFO info,
                             PULONG sizeUsed) {
    return Call<decltype(GetVirtualDiskInformation)>(GetInformation, handle, size, info, sizeUsed);
}
