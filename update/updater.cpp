#include "update/updater.h"
#include "app/elevation.h"
#include "app/globals.h"
#include "resources/resource.h"
#include "settings/store.h"
#include <netlistmgr.h>
#include <wininet.h>

namespace {

// A cached answer would hide a newer version.
constexpr DWORD FreshFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD AnyServer =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

void ReleaseNetworkList(INetworkListManager* manager) noexcept {
    manager->Release();
}
using UniqueInternet = UniqueAny<HINTERNET, &InternetCloseHandle>;
using UniqueNetworkList = UniqueAny<INetworkListManager*, &ReleaseNetworkList>;

void SetUpdateItemState(UINT state) {
    MENUITEMINFOW item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STATE;
    item.fState = state;
    SetMenuItemInfoW(App.MenuBar.get(), IDM_CHECK_UPDATES, FALSE, &item);
}

bool OnlineWithInternet() {
    UniqueNetworkList manager;
    if (FAILED(CoCreateInstance(CLSID_NetworkListManager, nullptr, AnyServer,
                                IID_INetworkListManager, reinterpret_cast<void**>(manager.put()))))
        return false;
    VARIANT_BOOL connected = VARIANT_FALSE, internet = VARIANT_FALSE;
    manager.get()->IsConnected(&connected);
    manager.get()->IsConnectedToInternet(&internet);
    return connected == VARIANT_TRUE && internet == VARIANT_TRUE;
}

HINTERNET OpenUrl(const UniqueInternet& internet, const wchar_t* url) {
    return InternetOpenUrlW(internet.get(), url, nullptr, 0, FreshFlags, 0);
}

// An error page is not a version file: its first bytes would read as a newer version.
bool AnsweredOk(const UniqueInternet& request) {
    DWORD status = 0, size = sizeof(status);
    return HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                          &size, nullptr) &&
           status == HTTP_STATUS_OK;
}

// The published number, or false when there is none: a body shorter than 4 bytes is none.
bool ReadVersion(const UniqueInternet& request, DWORD* version) {
    DWORD read = 0;
    return AnsweredOk(request) &&
           InternetReadFile(request.get(), version, sizeof(*version), &read) &&
           read == sizeof(*version);
}

void OfferNewVersion() {
    MessageBoxW(App.MainWindow, NewVersionMessage, VersionCaption, MB_ICONINFORMATION);
    OpenAsUser(TESSEL_DOWNLOAD_URL);
}

} // namespace

int CheckForNewVersion() {
    UniqueInternet internet(InternetOpenW(L"Microsoft Internet Explorer", INTERNET_OPEN_TYPE_DIRECT,
                                          nullptr, nullptr, 0));
    if (!internet)
        return 0;
    UniqueInternet version(OpenUrl(internet, TESSEL_VERSION_URL));
    if (!version)
        return 0;
    UniqueInternet reachability(OpenUrl(internet, TESSEL_REACHABILITY_URL));
    if (!reachability) {
        version.reset();
        internet.reset();
        MessageBoxW(nullptr, ConnectionErrorMessage, ErrorCaption, MB_ICONERROR);
        return 0;
    }
    DWORD number = 0;
    bool read = ReadVersion(version, &number);
    // Nothing stays open while a box waits for the user.
    reachability.reset();
    version.reset();
    internet.reset();
    if (!read)
        return 0;
    if (number > BuiltInVersion)
        OfferNewVersion();
    return 1;
}

DWORD WINAPI UpdateWorker(void*) {
    DWORD checkForUpdate = 0;
    if (ReadCheckForUpdate(&checkForUpdate) && checkForUpdate) {
        InterlockedExchange(&App.UpdateInProgress, 1);
        SetUpdateItemState(MFS_DISABLED);
        // The Network List Manager is a COM object: this thread needs COM of its own.
        if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            if (OnlineWithInternet())
                CheckForNewVersion();
            CoUninitialize();
        }
    }
    SetUpdateItemState(MFS_ENABLED);
    InterlockedExchange(&App.UpdateInProgress, 0);
    return 0;
}
