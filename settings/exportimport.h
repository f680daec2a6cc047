// Export and import of the whole settings subtree through the system's registry tool.
#pragma once
#include <windows.h>

constexpr wchar_t ExportDoneMessage[] = L"Exporting setting's done";
constexpr wchar_t ExportErrorMessage[] = L"Exporting setting's error";
constexpr wchar_t ImportQuestion[] = L"Are you sure want to import setting's ?\r\n"
                                     L"Note: All your current setting's will be rewrited.";
constexpr wchar_t ImportDoneMessage[] = L"Importing setting's done.\r\nPlease, restart program.";
constexpr wchar_t ImportErrorMessage[] = L"Importing setting's error";
constexpr wchar_t DoneCaption[] = L"Successfull";
constexpr wchar_t ConfirmationCaption[] = L"Confirmation";
// The registry tool's parameters: 67,648 bytes, a prefix and a path of PathBufferChars.
constexpr DWORD ToolParameterChars = 33824;
// A tool still running after this long counts as failed.
constexpr DWORD ToolTimeoutMs = 30000;

void ExportSettings();
void ImportSettings();
