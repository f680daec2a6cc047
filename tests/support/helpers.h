// Small helpers shared by every test program: text for messages, a scratch folder, the
// registry of the test prefix, and the stand-in's journal.
#pragma once
#include <windows.h>
#include <ostream>
#include <string>
#include <vector>

#include "standin_client.h"

// UTF-8 for assertion messages.
namespace probe {
std::string Narrow(const std::wstring& text);
}
using probe::Narrow;

// A fresh folder below the temporary folder, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::wstring PathOf(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// The stand-in of this process and of the programs it starts journals into and keeps its
// state in this folder, so that a test sees only its own calls and attachments.
void UseStandinFolder(const TempFolder& folder);
// Journal lines for one image, in order; only those of one operation when op is given.
std::vector<standin::JournalEntry> JournalFor(const std::wstring& path,
                                              const wchar_t* op = nullptr);

struct RegistryValue {
    std::wstring Name;
    DWORD Type = REG_SZ;
    std::vector<BYTE> Data;
    bool operator==(const RegistryValue&) const = default;
};
inline void PrintTo(const RegistryValue& value, std::ostream* out) {
    *out << Narrow(value.Name.substr(0, 80)) << " type " << value.Type << ", " << value.Data.size()
         << " bytes";
}

// A string value's data as the registry keeps it: UTF-16 with its terminator.
std::vector<BYTE> StringData(const std::wstring& text);
std::vector<RegistryValue> ReadValues(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
void DeleteTree(HKEY root, const std::wstring& path);
// Turns HKLM\path into a key that links to itself, so no one can create or open it
// (Wine ignores key ACLs, but a link loop fails on every platform); MendKey undoes it.
bool BreakKey(const std::wstring& path);
void MendKey(const std::wstring& path);

// HKLM-relative path of the signed-in user's settings key.
std::wstring UserSettingsPath();
