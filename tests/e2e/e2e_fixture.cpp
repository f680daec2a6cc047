#include "e2e_fixture.h"
#include "app/globals.h"
#include <algorithm>
#include <tuple>

namespace e2e {

constexpr wchar_t AppDefaultsPath[] = L"Software\\Wine\\AppDefaults\\tessel.exe";

std::string Describe(const std::vector<standin::JournalEntry>& entries) {
    std::string out;
    for (const standin::JournalEntry& e : entries)
        out += "    " + Narrow(e.Op) + " pid " + std::to_string(e.ProcessId) + " code " +
               std::to_string(e.Code) + " " + Narrow(e.Path) + "\n";
    return out.empty() ? "    (no entries)\n" : out;
}

std::string Describe(const std::vector<standin::Attachment>& attached) {
    std::string out;
    for (const standin::Attachment& a : attached)
        out += std::string("    ") + (a.ReadOnly ? "ro" : "rw") + " pid " +
               std::to_string(a.ProcessId) + " " + Narrow(a.Path) + "\n";
    return out.empty() ? "    (nothing attached)\n" : out;
}

::testing::AssertionResult RowsAre(const std::vector<probe::Row>& actual,
                                   const std::vector<ExpectedRow>& expected) {
    std::vector<probe::Row> rows;
    for (const ExpectedRow& row : expected)
        rows.push_back({row.Path, row.Status, row.Marked ? StartupYesText : StartupNoText,
                        row.Marked ? 2 : 1, ListIconDisk, row.ErrorImage ? ListIconError : -1,
                        row.Marked ? ListIconStartupYes : ListIconStartupNo, row.Handle});
    std::string want = Narrow(probe::Describe(rows)), got = Narrow(probe::Describe(actual));
    if (want == got)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rows differ\n  expected:\n"
                                         << want << "  actual:\n"
                                         << got;
}

::testing::AssertionResult RowsMatchAttachments(const std::vector<probe::Row>& rows, DWORD pid) {
    std::vector<standin::Attachment> attached = standin::ListAttached();
    std::string wrong;
    std::ptrdiff_t attachedRows = 0;
    for (const probe::Row& row : rows) {
        bool held = std::ranges::any_of(attached, [&](const standin::Attachment& a) {
            return a.ProcessId == pid && lstrcmpiW(a.Path.c_str(), row.Path.c_str()) == 0;
        });
        // A failed detach leaves the image attached; a failed close, only the handle.
        bool says = row.Status.starts_with(StatusMounted) || row.Status == StatusUnmountError;
        if (held != says || (row.Handle != 0) != (says || row.Status == StatusCloseError))
            wrong += Narrow(probe::Describe(row)) + "\n";
        attachedRows += says;
    }
    // Nor is anything attached that no row shows: a removed row let go of its image.
    if (std::ranges::count(attached, pid, &standin::Attachment::ProcessId) != attachedRows)
        wrong += "images attached that no row shows\n";
    if (wrong.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rows that do not match the service:\n"
                                         << wrong << "attached:\n"
                                         << Describe(attached);
}

std::wstring BoxText(const std::wstring& caption, const std::wstring& text,
                     const std::vector<int>& buttons) {
    std::wstring out = caption + L" | " + text + L" |";
    for (int id : buttons)
        out += L" " + std::to_wstring(id);
    return out;
}

std::wstring ErrorBoxText(DWORD code) {
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, ARRAYSIZE(text), nullptr);
    return BoxText(ErrorCaption, text, {IDOK});
}

// As BoxText has it, the default button last; empty while the box has no default button yet.
static std::wstring Shown(const probe::Box& box) {
    std::wstring seen = box.Caption + L" | " + box.Text + L" |", chosen;
    for (const probe::BoxButton& shown : box.Buttons)
        (shown.Default ? chosen : seen) += L" " + std::to_wstring(shown.Id);
    return chosen.empty() ? chosen : seen + chosen;
}

probe::Box NextBox(const probe::Target& tessel) {
    probe::Box next;
    probe::WaitFor(ExitTimeoutMs, [&] {
        for (const probe::Box& box : tessel.Boxes())
            if (!Shown(box).empty())
                return next = box, true;
        return false;
    });
    return next;
}

std::wstring Answer(const probe::Target& tessel, int button) {
    probe::Box box = NextBox(tessel);
    if (!box.Window)
        return L"(no box)";
    std::wstring seen = Shown(box);
    probe::PressButton(box, button);
    probe::WaitFor(ExitTimeoutMs, [&] { return !IsWindowVisible(box.Window); });
    return seen;
}

::testing::AssertionResult ListIs(const probe::Target& tessel,
                                  const std::vector<ExpectedRow>& rows) {
    std::vector<RegistryValue> values;
    for (const ExpectedRow& row : rows)
        values.push_back(
            {row.Path, REG_SZ, StringData(row.Marked ? StartupFlagOn : StartupFlagOff)});
    std::ranges::sort(values, {}, &RegistryValue::Name);
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    auto check = [&] {
        std::vector<probe::Row> live = tessel.Rows();
        std::vector<RegistryValue> now = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath());
        std::ranges::sort(now, {}, &RegistryValue::Name);
        result = RowsAre(live, rows);
        if (result)
            result = RowsMatchAttachments(live, tessel.Pid());
        if (result && now != values) {
            result = ::testing::AssertionFailure() << "values are:";
            for (const RegistryValue& value : now)
                result << "\n  " << Narrow(value.Name) << " = "
                       << Narrow(reinterpret_cast<const wchar_t*>(value.Data.data()));
        }
        return bool(result);
    };
    probe::WaitFor(ExitTimeoutMs, check);
    return result;
}

Observer::Observer(probe::Target* tessel) : tessel_(tessel), last_(Read()) {}

Observer::State Observer::Read() const {
    State state;
    state.Running = tessel_->Running();
    if (!state.Running) {
        tessel_->WaitExit(0, &state.Code);
        return state;
    }
    state.Visible = tessel_->WindowVisible();
    state.Icon = tessel_->TrayIconPresent();
    // A box counts once it is whole, with its default button: one that is being built or
    // taken down shows less.
    for (const probe::Box& box : tessel_->Boxes())
        if (std::wstring text = Shown(box); !text.empty()) {
            state.Box = {BoxShown, Seen, 0, GetWindow(box.Window, GW_OWNER) == tessel_->Window(),
                         text};
            state.BoxWindow = box.Window;
            break;
        }
    return state;
}

void Observer::Record(bool waitForChange) {
    auto seen = [](const State& s) { return std::tie(s.Visible, s.Icon, s.Running, s.BoxWindow); };
    State now = Read();
    if (waitForChange && seen(now) == seen(last_))
        probe::WaitFor(ExitTimeoutMs, [&] { return seen(now = Read()) != seen(last_); });
    // A box goes before what its answer sets off, so box changes are noted first.
    if (last_.BoxWindow && now.BoxWindow != last_.BoxWindow)
        sequence_.Add({BoxClosed, Seen});
    if (now.BoxWindow && now.BoxWindow != last_.BoxWindow)
        sequence_.Add(now.Box);
    if (now.Running && now.Visible != last_.Visible)
        sequence_.Add({now.Visible ? WindowShown : WindowHidden, Seen});
    if (now.Running && now.Icon != last_.Icon)
        sequence_.Add({now.Icon ? TrayIconAdded : TrayIconRemoved, Seen});
    if (last_.Running && !now.Running)
        sequence_.Add({ProcessEnded, Seen, now.Code});
    last_ = now;
}

void Observer::Do(const Msg& step, bool wait, const std::function<void()>& act) {
    sequence_.Add(step);
    act();
    Record(wait);
}

void Observer::WaitEnd() {
    tessel_->WaitExit(ExitTimeoutMs);
    Record(false);
}

void TesselTest::SetUp() {
    probe::KillStrayTessels();
    // tessel.exe inherits the variables: its stand-in writes where this test reads.
    UseStandinFolder(folder_);
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    SetWindowsVersion(L"win10");
}

void TesselTest::TearDown() {
    for (HANDLE process : started_) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    started_.clear();
    probe::KillStrayTessels();
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    RegDeleteKeyW(HKEY_CURRENT_USER, AppDefaultsPath);
}

void TesselTest::SetWindowsVersion(const wchar_t* version) {
    std::vector<BYTE> data = StringData(version);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, AppDefaultsPath, L"Version", REG_SZ,
                                             data.data(), DWORD(data.size())));
}

std::wstring TesselTest::MakeImage(const std::wstring& name, imagegen::Kind kind) {
    imagegen::Options options;
    options.virtualSize = 16ull << 20;
    EXPECT_EQ(0u, imagegen::CreateImage(PathOf(name), kind, options)) << Narrow(name);
    return PathOf(name);
}

void TesselTest::SetValue(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), name.c_str(), type,
                              data.empty() ? nullptr : data.data(), DWORD(data.size())))
        << Narrow(name);
}

::testing::AssertionResult TesselTest::Start(probe::Target* target, const std::wstring& exe) {
    std::wstring error;
    if (!target->Launch(exe, &error))
        return ::testing::AssertionFailure() << Narrow(error);
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), target->Process(), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    started_.push_back(copy);
    if (target->WaitIdle(IdleTimeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "tessel.exe not idle within " << IdleTimeoutMs
                                         << " ms; still running: " << target->Running();
}

::testing::AssertionResult TesselTest::Quit(probe::Target* target) {
    DWORD code = STILL_ACTIVE;
    if (target->PostQuitRequest() && target->WaitExit(ExitTimeoutMs, &code) && code == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the quit request gave exit code " << code << " (259: still running), expected 1";
}

} // namespace e2e
