#include "template_reader.h"

#include <cstring>

std::vector<uint8_t> ResourceBytes(LPCWSTR type, WORD id) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(self, found);
    const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
    DWORD size = SizeofResource(self, found);
    if (!data)
        return {};
    return std::vector<uint8_t>(data, data + size);
}

namespace {

class Cursor {
  public:
    explicit Cursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Ok() const { return ok_; }
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    void AlignDword() { pos_ = (pos_ + 3) & ~size_t(3); }
    void Skip(size_t n) {
        pos_ += n;
        ok_ = ok_ && pos_ <= bytes_.size();
    }

    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            s += wchar_t(c);
        return s;
    }

    // sz_Or_Ord: 0 (none), 0xFFFF followed by an ordinal, or a string.
    std::wstring NameOrOrdinal(bool classField) {
        WORD first = Word();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            WORD ord = Word();
            if (classField) {
                switch (ord) {
                case 0x80:
                    return L"Button";
                case 0x81:
                    return L"Edit";
                case 0x82:
                    return L"Static";
                case 0x83:
                    return L"ListBox";
                case 0x84:
                    return L"ScrollBar";
                case 0x85:
                    return L"ComboBox";
                }
            }
            return L"#" + std::to_wstring(ord);
        }
        std::wstring s(1, wchar_t(first));
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            s += wchar_t(c);
        return s;
    }

  private:
    template <typename T> T Take() {
        T v{};
        if (pos_ + sizeof(T) > bytes_.size()) {
            ok_ = false;
            return v;
        }
        std::memcpy(&v, bytes_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }

    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace

DialogTemplate ReadDialogTemplate(WORD id, bool& ok) {
    DialogTemplate t;
    std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, id);
    Cursor c(bytes);
    ok = !bytes.empty();
    if (!ok)
        return t;
    WORD count = 0;
    if (bytes.size() >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF &&
        bytes[3] == 0xFF) {
        t.Extended = true;
        c.Skip(4);
        c.Dword(); // help id
        t.ExStyle = c.Dword();
        t.Style = c.Dword();
    } else {
        t.Style = c.Dword();
        t.ExStyle = c.Dword();
    }
    count = c.Word();
    t.X = c.Short();
    t.Y = c.Short();
    t.Cx = c.Short();
    t.Cy = c.Short();
    t.Menu = c.NameOrOrdinal(false);
    t.Class = c.NameOrOrdinal(false);
    t.Caption = c.String();
    if (t.Style & (DS_SETFONT | DS_SHELLFONT)) {
        t.PointSize = c.Word();
        if (t.Extended) {
            t.Weight = c.Word();
            t.Italic = c.Byte();
            c.Byte(); // charset
        }
        t.Face = c.String();
    }
    for (WORD i = 0; i < count && c.Ok(); ++i) {
        TemplateItem item;
        c.AlignDword();
        if (t.Extended) {
            c.Dword(); // help id
            item.ExStyle = c.Dword();
            item.Style = c.Dword();
        } else {
            item.Style = c.Dword();
            item.ExStyle = c.Dword();
        }
        item.X = c.Short();
        item.Y = c.Short();
        item.Cx = c.Short();
        item.Cy = c.Short();
        item.Id = t.Extended ? c.Dword() : c.Word();
        item.Class = c.NameOrOrdinal(true);
        item.Text = c.NameOrOrdinal(false);
        c.Skip(c.Word()); // creation data
        t.Items.push_back(item);
    }
    ok = c.Ok() && t.Items.size() == count;
    return t;
}

std::vector<GroupIconEntry> ReadGroupIcon(WORD id) {
    std::vector<uint8_t> bytes = ResourceBytes(RT_GROUP_ICON, id);
    std::vector<GroupIconEntry> entries;
    Cursor c(bytes);
    c.Word(); // reserved
    if (c.Word() != 1)
        return entries;
    WORD count = c.Word();
    for (WORD i = 0; i < count && c.Ok(); ++i) {
        GroupIconEntry e;
        BYTE w = c.Byte(), h = c.Byte();
        e.Width = w ? w : 256;
        e.Height = h ? h : 256;
        c.Byte(); // colour count
        c.Byte();
        c.Word(); // planes
        e.BitCount = c.Word();
        e.Bytes = c.Dword();
        e.IconId = c.Word();
        if (c.Ok())
            entries.push_back(e);
    }
    return entries;
}

IconPixels ReadIconPixels(WORD iconId) {
    IconPixels px;
    std::vector<uint8_t> bytes = ResourceBytes(RT_ICON, iconId);
    if (bytes.size() < sizeof(BITMAPINFOHEADER))
        return px;
    BITMAPINFOHEADER head;
    std::memcpy(&head, bytes.data(), sizeof head);
    if (head.biSize != sizeof head || head.biBitCount != 32 || head.biHeight != 2 * head.biWidth)
        return px;
    int n = head.biWidth;
    if (bytes.size() < sizeof head + size_t(n) * n * 4)
        return px;
    px.Size = n;
    px.Rgba.resize(size_t(n) * n);
    for (int y = 0; y < n; ++y) {
        const uint8_t* row = bytes.data() + sizeof head + size_t(n - 1 - y) * n * 4;
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = row + 4 * x; // B, G, R, A
            px.Rgba[size_t(y) * n + x] = p[2] | (p[1] << 8) | (p[0] << 16) | (uint32_t(p[3]) << 24);
        }
    }
    return px;
}

std::string Narrow(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}
