// What tests see from outside: the journal of calls and the faults they plant.
#pragma once
#include <string>
#include <windows.h>

#include "standin/common/state.h"

namespace standin {

// Appends one line: op, process id, code, image path, then the call's own fields.
void Journal(const wchar_t* op, DWORD code, const std::wstring& path, const std::wstring& fields);
// A planted fault for this operation and image, consumed by the call: true and its code.
bool TakeFault(Operation op, const std::wstring& path, DWORD* code);
std::wstring Hex(DWORD value);

} // namespace standin
