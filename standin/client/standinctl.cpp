// standinctl: the stand-in virtual disk service from shell scripts.
//   list                          images attached now: ro|rw, process id, path
//   fault OP PATH CODE [COUNT [SKIP]]
//                                 after SKIP (0) that go through, the next COUNT (1) OPs
//                                 (open|attach|detach|compact|info) of PATH fail with CODE
//   journal [clear]               print (or empty) the journal
//   info PATH                     open as VHD, VHDX, then ISO and print what the service says
//   compact PATH                  open and compact; prints the code
//   hold PATH SECONDS             open, attach (read-only for ISO), print "attached" and
//                                 keep it so for a while: another process's attachment
// Exit code 0 on success, 1 on a failed call, 2 on a usage error.
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>
#include <virtdisk.h>

#include "standin_client.h"

namespace {

using OpenFn = DWORD(WINAPI*)(PVIRTUAL_STORAGE_TYPE, PCWSTR, VIRTUAL_DISK_ACCESS_MASK,
                              OPEN_VIRTUAL_DISK_FLAG, POPEN_VIRTUAL_DISK_PARAMETERS, PHANDLE);
using CompactFn = DWORD(WINAPI*)(HANDLE, COMPACT_VIRTUAL_DISK_FLAG,
                                 PCOMPACT_VIRTUAL_DISK_PARAMETERS, LPOVERLAPPED);
using AttachFn = DWORD(WINAPI*)(HANDLE, PSECURITY_DESCRIPTOR, ATTACH_VIRTUAL_DISK_FLAG, ULONG,
                                PATTACH_VIRTUAL_DISK_PARAMETERS, LPOVERLAPPED);
using InfoFn = DWORD(WINAPI*)(HANDLE, PULONG, PGET_VIRTUAL_DISK_INFO, PULONG);

struct Service {
    OpenFn Open = nullptr;
    CompactFn Compact = nullptr;
    AttachFn Attach = nullptr;
    InfoFn Info = nullptr;
};

template <typename Function> Function Lookup(HMODULE dll, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

bool LoadService(Service* service) {
    HMODULE dll = LoadLibraryExW(L"virtdisk.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll)
        return false;
    service->Open = Lookup<OpenFn>(dll, "OpenVirtualDisk");
    service->Compact = Lookup<CompactFn>(dll, "CompactVirtualDisk");
    service->Attach = Lookup<AttachFn>(dll, "AttachVirtualDisk");
    service->Info = Lookup<InfoFn>(dll, "GetVirtualDiskInformation");
    return service->Open && service->Compact && service->Attach && service->Info;
}

// The product's probe order: VHD, VHDX, ISO. Returns the last code.
DWORD OpenAny(const Service& service, const wchar_t* path, HANDLE* handle) {
    const DWORD devices[] = {VIRTUAL_STORAGE_TYPE_DEVICE_VHD, VIRTUAL_STORAGE_TYPE_DEVICE_VHDX,
                             VIRTUAL_STORAGE_TYPE_DEVICE_ISO};
    DWORD code = 0;
    for (DWORD device : devices) {
        VIRTUAL_STORAGE_TYPE type = {device, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
        VIRTUAL_DISK_ACCESS_MASK access = device == VIRTUAL_STORAGE_TYPE_DEVICE_ISO
                                              ? VIRTUAL_DISK_ACCESS_READ
                                              : VIRTUAL_DISK_ACCESS_ALL;
        code = service.Open(&type, path, access, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, handle);
        if (!code)
            return 0;
    }
    return code;
}

int Info(const Service& service, const wchar_t* path) {
    HANDLE handle;
    DWORD code = OpenAny(service, path, &handle);
    if (code) {
        printf("open %lu\n", code);
        return 1;
    }
    GET_VIRTUAL_DISK_INFO info[3] = {};
    const GET_VIRTUAL_DISK_INFO_VERSION kinds[] = {GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE,
                                                   GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE,
                                                   GET_VIRTUAL_DISK_INFO_SIZE};
    for (int i = 0; i < 3 && !code; ++i) {
        ULONG size = sizeof info[i];
        info[i].Version = kinds[i];
        code = service.Info(handle, &size, &info[i], nullptr);
    }
    CloseHandle(handle);
    if (code) {
        printf("info %lu\n", code);
        return 1;
    }
    printf("device=%lu subtype=%lu virtual=%llu physical=%llu block=%lu sector=%lu\n",
           info[0].VirtualStorageType.DeviceId, info[1].ProviderSubtype, info[2].Size.VirtualSize,
           info[2].Size.PhysicalSize, info[2].Size.BlockSize, info[2].Size.SectorSize);
    return 0;
}

int Compact(const Service& service, const wchar_t* path) {
    HANDLE handle;
    DWORD code = OpenAny(service, path, &handle);
    if (!code) {
        COMPACT_VIRTUAL_DISK_PARAMETERS parameters = {COMPACT_VIRTUAL_DISK_VERSION_1, {}};
        code = service.Compact(handle, COMPACT_VIRTUAL_DISK_FLAG_NONE, &parameters, nullptr);
        CloseHandle(handle);
    }
    printf("%lu\n", code);
    return code ? 1 : 0;
}

int Hold(const Service& service, const wchar_t* path, DWORD seconds) {
    HANDLE handle;
    DWORD code = OpenAny(service, path, &handle);
    if (!code) {
        GET_VIRTUAL_DISK_INFO info = {};
        info.Version = GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE;
        ULONG size = sizeof info;
        service.Info(handle, &size, &info, nullptr);
        bool iso = info.VirtualStorageType.DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_ISO;
        code =
            service.Attach(handle, nullptr,
                           iso ? ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY : ATTACH_VIRTUAL_DISK_FLAG_NONE,
                           0, nullptr, nullptr);
    }
    if (code) {
        printf("%lu\n", code);
        return 1;
    }
    printf("attached\n");
    fflush(stdout);
    Sleep(seconds * 1000);
    return 0;
}

int Usage() {
    fprintf(
        stderr,
        "usage: standinctl list | fault OP PATH CODE [COUNT [SKIP]] | journal [clear] | info PATH |"
        " compact PATH | hold PATH SECONDS\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"list" && argc == 2) {
        for (const standin::Attachment& a : standin::ListAttached())
            printf("%s\t%lu\t%s\n", a.ReadOnly ? "ro" : "rw", a.ProcessId,
                   standin::ToUtf8(a.Path).c_str());
        return 0;
    }
    standin::Operation op;
    if (command == L"fault" && argc >= 5 && argc <= 7 && standin::ParseOperation(argv[2], &op)) {
        unsigned count = argc >= 6 ? unsigned(wcstoul(argv[5], nullptr, 10)) : 1;
        unsigned skip = argc == 7 ? unsigned(wcstoul(argv[6], nullptr, 10)) : 0;
        if (!count)
            return Usage();
        DWORD code = DWORD(wcstoul(argv[4], nullptr, 0));
        return standin::InjectFault(op, argv[3], code, count, skip) ? 0 : 1;
    }
    if (command == L"journal" && argc == 3 && std::wstring(argv[2]) == L"clear")
        return standin::ClearJournal() ? 0 : 1;
    if (command == L"journal" && argc == 2) {
        for (const standin::JournalEntry& e : standin::ReadJournal()) {
            std::wstring line = e.Op + L"\t" + std::to_wstring(e.ProcessId) + L"\t" +
                                std::to_wstring(e.Code) + L"\t" + e.Path;
            for (const std::wstring& field : e.Fields)
                line += L"\t" + field;
            printf("%s\n", standin::ToUtf8(line).c_str());
        }
        return 0;
    }
    bool serviceCommand = ((command == L"info" || command == L"compact") && argc == 3) ||
                          (command == L"hold" && argc == 4);
    if (!serviceCommand)
        return Usage();
    Service service;
    if (!LoadService(&service)) {
        fprintf(stderr, "standinctl: virtdisk.dll not usable (%lu)\n", GetLastError());
        return 1;
    }
    if (command == L"hold")
        return Hold(service, argv[2], DWORD(wcstoul(argv[3], nullptr, 10)));
    return command == L"info" ? Info(service, argv[2]) : Compact(service, argv[2]);
}
