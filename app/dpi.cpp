#include "app/dpi.h"

namespace {

// Looked up at run time: Windows 7 and 8 do not have them.
template <typename Function> Function* User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT SystemDpi() {
    static auto* getDpiForSystem = User32Function<decltype(GetDpiForSystem)>("GetDpiForSystem");
    if (getDpiForSystem)
        return getDpiForSystem();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? UINT(dpi) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

UINT WindowDpi(HWND window) {
    static auto* getDpiForWindow = User32Function<decltype(GetDpiForWindow)>("GetDpiForWindow");
    const UINT dpi = window && getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

int ScaleForDpi(int pixels, UINT dpi) {
    return MulDiv(pixels, int(dpi), USER_DEFAULT_SCREEN_DPI);
}

int SmallIconSize(UINT dpi) {
    static auto* getSystemMetricsForDpi =
        User32Function<decltype(GetSystemMetricsForDpi)>("GetSystemMetricsForDpi");
    if (getSystemMetricsForDpi)
        return getSystemMetricsForDpi(SM_CXSMICON, dpi);
    return GetSystemMetrics(SM_CXSMICON);
}

HFONT CreateIconTitleFont(UINT dpi) {
    static auto* systemParametersInfoForDpi =
        User32Function<decltype(SystemParametersInfoForDpi)>("SystemParametersInfoForDpi");
    LOGFONTW font = {};
    const BOOL read =
        systemParametersInfoForDpi
            ? systemParametersInfoForDpi(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0, dpi)
            : SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0);
    return read ? CreateFontIndirectW(&font) : nullptr;
}
