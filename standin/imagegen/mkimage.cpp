// mkimage KIND PATH [--size N[K|M|G|T]] [--block N[K|M]] [--sector N] [--parent PATH] [--pattern P]
// Writes one test image; prints the kinds when called without arguments.
#include <cstdio>
#include <cwchar>
#include <string>

#include "imagegen.h"

namespace {

bool ParseSize(const wchar_t* text, uint64_t* value) {
    wchar_t* end = nullptr;
    uint64_t number = wcstoull(text, &end, 10);
    if (end == text)
        return false;
    int shift = 0;
    switch (*end) {
    case L'T':
        shift = 40;
        break;
    case L'G':
        shift = 30;
        break;
    case L'M':
        shift = 20;
        break;
    case L'K':
        shift = 10;
        break;
    case 0:
        break;
    default:
        return false;
    }
    if (*end && end[1])
        return false;
    *value = number << shift;
    return true;
}

int Usage() {
    fprintf(stderr, "usage: mkimage KIND PATH [--size N[K|M|G|T]] [--block N[K|M]] [--sector N]"
                    " [--parent PATH] [--pattern D|Z|E|.]...\nkinds:");
    for (imagegen::Kind kind : imagegen::AllKinds)
        fprintf(stderr, " %s", imagegen::KindName(kind));
    fprintf(stderr, "\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return Usage();
    imagegen::Kind kind;
    std::wstring kindName = argv[1];
    if (!imagegen::ParseKind(std::string(kindName.begin(), kindName.end()), &kind))
        return Usage();
    imagegen::Options options;
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc)
            return Usage();
        std::wstring name = argv[i];
        const wchar_t* value = argv[i + 1];
        uint64_t number = 0;
        if (name == L"--size" && ParseSize(value, &number))
            options.virtualSize = number;
        else if (name == L"--block" && ParseSize(value, &number))
            options.blockSize = uint32_t(number);
        else if (name == L"--sector" && ParseSize(value, &number))
            options.sectorSize = uint32_t(number);
        else if (name == L"--parent")
            options.parent = value;
        else if (name == L"--pattern")
            options.pattern = std::string(value, value + wcslen(value));
        else
            return Usage();
    }
    DWORD error = imagegen::CreateImage(argv[2], kind, options);
    if (error) {
        fprintf(stderr, "mkimage: error %lu\n", error);
        return 1;
    }
    return 0;
}
