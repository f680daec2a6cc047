// Reads the program's own resources byte by byte, so that tests see exactly what the
// resource compiler stored, not what the system made of it.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

struct TemplateItem {
    DWORD Id = 0; // -1 comes back as 0xFFFF in a plain template and 0xFFFFFFFF in an extended one
    DWORD Style = 0;
    DWORD ExStyle = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    std::wstring Class; // predefined classes by name ("Button", "Edit", "Static", ...)
    std::wstring Text;  // an ordinal (an icon id) as "#107"
};

struct DialogTemplate {
    bool Extended = false;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    std::wstring Menu, Class, Caption;
    WORD PointSize = 0;
    WORD Weight = 0; // 0 in a plain template, which has no weight field
    BYTE Italic = 0;
    std::wstring Face;
    std::vector<TemplateItem> Items;
};

// The raw bytes of resource (type, id) of this executable; empty when it is missing.
std::vector<uint8_t> ResourceBytes(LPCWSTR type, WORD id);

// Parses an RT_DIALOG resource (DLGTEMPLATE or DLGTEMPLATEEX). Sets ok to false on a
// malformed or missing template.
DialogTemplate ReadDialogTemplate(WORD id, bool& ok);

struct GroupIconEntry {
    int Width = 0; // 256 for the byte value 0
    int Height = 0;
    WORD BitCount = 0;
    DWORD Bytes = 0;
    WORD IconId = 0;
};

std::vector<GroupIconEntry> ReadGroupIcon(WORD id);

// A 32-bit icon image (BMP in an RT_ICON) as top-down RGBA; empty for PNG images.
struct IconPixels {
    int Size = 0;
    std::vector<uint32_t> Rgba; // 0xAABBGGRR
};
IconPixels ReadIconPixels(WORD iconId);

std::string Narrow(const std::wstring& w);
