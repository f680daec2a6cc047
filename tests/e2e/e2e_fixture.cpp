#include "e2e_fixture.h"
#include <sstream>

namespace e2e {

namespace {

constexpr wchar_t AppDefaultsPath[] = L"Software\\Wine\\AppDefaults\\tessel.exe";

std::wstring RowLine(const std::wstring& path, const std::wstring& status,
                     const std::wstring& startup, int check, bool error, int startupImage,
                     bool handle) {
    std::wostringstream line;
    line << L"\"" << path << L"\" | \"" << status << L"\" | \"" << startup << L"\" | check "
         << check << L" | error image " << (error ? L"yes" : L"no") << L" | startup image "
         << startupImage << L" | handle " << (handle ? L"set" : L"0");
    return line.str();
}

std::wstring Line(const probe::Row& row) {
    return RowLine(row.Path, row.Status, row.Startup, row.CheckState,
                   row.StatusImage == ListIconError, row.StartupImage, row.Handle != 0);
}

std::wstring Line(const ExpectedRow& row) {
    return RowLine(row.Path, row.Status, row.Marked ? StartupYesText : StartupNoText,
                   row.Marked ? 2 : 1, row.ErrorImage,
                   row.Marked ? ListIconStartupYes : ListIconStartupNo, row.Handle);
}

template <typename A, typename B>
::testing::AssertionResult Compare(const char* what, const std::vector<A>& expected,
                                   const std::vector<B>& actual) {
    std::wstring want, got;
    for (size_t i = 0; i < expected.size(); ++i)
        want += L"    " + std::to_wstring(i) + L": " + Line(expected[i]) + L"\n";
    for (size_t i = 0; i < actual.size(); ++i)
        got += L"    " + std::to_wstring(i) + L": " + Line(actual[i]) + L"\n";
    if (want == got)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << "\n  expected:\n"
                                         << Narrow(want) << "  actual:\n"
                                         << Narrow(got);
}

void DeleteBaseKey() {
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
}

} // namespace

std::wstring Describe(const std::vector<RegistryValue>& values) {
    std::wstring out;
    for (const RegistryValue& v : values) {
        out += L"    " + v.Name + L" type " + std::to_wstring(v.Type) + L" data";
        for (BYTE b : v.Data)
            out += L" " + std::to_wstring(b);
        out += L"\n";
    }
    return out.empty() ? L"    (no values)\n" : out;
}

std::wstring Describe(const std::vector<standin::JournalEntry>& entries) {
    std::wstring out;
    for (const standin::JournalEntry& e : entries)
        out += L"    " + e.Op + L" pid " + std::to_wstring(e.ProcessId) + L" code " +
               std::to_wstring(e.Code) + L" " + e.Path + L"\n";
    return out.empty() ? L"    (no entries)\n" : out;
}

std::wstring Describe(const std::vector<standin::Attachment>& attached) {
    std::wstring out;
    for (const standin::Attachment& a : attached)
        out += L"    " + std::wstring(a.ReadOnly ? L"ro" : L"rw") + L" pid " +
               std::to_wstring(a.ProcessId) + L" " + a.Path + L"\n";
    return out.empty() ? L"    (nothing attached)\n" : out;
}

::testing::AssertionResult RowsAre(const std::vector<probe::Row>& actual,
                                   const std::vector<ExpectedRow>& expected) {
    return Compare("rows differ", expected, actual);
}

::testing::AssertionResult SameRows(const std::vector<probe::Row>& before,
                                    const std::vector<probe::Row>& after) {
    return Compare("rows changed", before, after);
}

std::wstring BoxText(const std::wstring& caption, const std::wstring& text,
                     std::initializer_list<int> buttons) {
    std::wstring out = caption + L" | " + text + L" |";
    for (int id : buttons)
        out += L" " + std::to_wstring(id);
    return out;
}

Observer::Observer(probe::Target* tessel) : tessel_(tessel), last_(Read()) {}

bool Observer::State::operator==(const State& other) const {
    return Visible == other.Visible && Icon == other.Icon && Running == other.Running &&
           Box.Text == other.Box.Text && Box.WParam == other.Box.WParam &&
           Box.LParam == other.Box.LParam;
}

Observer::State Observer::Read() const {
    State state;
    state.Running = tessel_->Running();
    if (!state.Running) {
        tessel_->WaitExit(0, &state.Code);
        return state;
    }
    state.Visible = tessel_->WindowVisible();
    state.Icon = tessel_->TrayIconPresent();
    std::vector<probe::Box> boxes = tessel_->Boxes();
    if (!boxes.empty()) {
        const probe::Box& box = boxes.front();
        std::wstring text = box.Caption + L" | " + box.Text + L" |";
        for (const probe::BoxButton& button : box.Buttons) {
            text += L" " + std::to_wstring(button.Id);
            if (button.Default)
                state.Box.WParam = WPARAM(button.Id);
        }
        state.Box.Message = BoxShown;
        state.Box.Flags = Seen;
        state.Box.Text = text;
        state.Box.LParam = GetWindow(box.Window, GW_OWNER) == tessel_->Window();
    }
    return state;
}

void Observer::Record(bool waitForChange) {
    State now = Read();
    if (waitForChange && now == last_)
        probe::WaitFor(ExitTimeoutMs, [&] { return !((now = Read()) == last_); });
    if (now.Running && now.Visible != last_.Visible)
        sequence_.Add({now.Visible ? WindowShown : WindowHidden, Seen});
    if (now.Running && now.Icon != last_.Icon)
        sequence_.Add({now.Icon ? TrayIconAdded : TrayIconRemoved, Seen});
    if (last_.Box.Message && !(now.Box.Text == last_.Box.Text))
        sequence_.Add({BoxClosed, Seen});
    if (now.Box.Message && !(now.Box.Text == last_.Box.Text))
        sequence_.Add(now.Box);
    if (last_.Running && !now.Running)
        sequence_.Add({ProcessEnded, Seen, now.Code});
    last_ = now;
}

void Observer::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    sequence_.Add({message, Sent, wParam, lParam});
    SendMessageTimeoutW(tessel_->Window(), message, wParam, lParam, SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    Record(false);
}

void Observer::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    sequence_.Add({message, Posted, wParam, lParam});
    tessel_->Post(message, wParam, lParam);
    Record(true);
}

void Observer::Press(int button) {
    sequence_.Add({WM_COMMAND, Posted, WPARAM(button), 0, L"button"});
    probe::Box box;
    if (tessel_->WaitBox(0, &box))
        probe::PressButton(box, button);
    Record(true);
}

void Observer::Keys(const wchar_t* name, std::initializer_list<WORD> keys) {
    sequence_.Add({WM_KEYDOWN, Posted, 0, 0, name});
    tessel_->PressKeys(keys);
    Record(true);
}

void Observer::WaitEnd() {
    tessel_->WaitExit(ExitTimeoutMs);
    Record(false);
}

void TesselTest::SetUp() {
    probe::KillStrayTessels();
    // tessel.exe inherits the variables: its stand-in writes where this test reads.
    UseStandinFolder(folder_);
    DeleteBaseKey();
    SetWindowsVersion(L"win10");
}

void TesselTest::TearDown() {
    for (HANDLE process : started_) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    started_.clear();
    probe::KillStrayTessels();
    DeleteBaseKey();
    RegDeleteKeyW(HKEY_CURRENT_USER, AppDefaultsPath);
}

void TesselTest::SetWindowsVersion(const wchar_t* version) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, AppDefaultsPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    std::vector<BYTE> data = StringData(version);
    RegSetValueExW(key, L"Version", 0, REG_SZ, data.data(), DWORD(data.size()));
    RegCloseKey(key);
}

std::wstring TesselTest::MakeImage(const std::wstring& name, imagegen::Kind kind) {
    std::wstring path = PathOf(name);
    imagegen::Options options;
    options.virtualSize = 16ull << 20;
    EXPECT_EQ(0u, imagegen::CreateImage(path, kind, options)) << "making " << Narrow(path);
    return path;
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
    if (!target->WaitIdle(IdleTimeoutMs)) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(target->Process(), &code);
        return ::testing::AssertionFailure()
               << "tessel.exe did not reach an idle message loop within " << IdleTimeoutMs
               << " ms (exit code " << code << ", window "
               << (target->Window() ? "found" : "not found") << ")";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TesselTest::StartExpectingExit(DWORD expectedCode) {
    probe::Target second;
    std::wstring error;
    if (!second.Launch(probe::TesselExe(), &error))
        return ::testing::AssertionFailure() << Narrow(error);
    DWORD code = STILL_ACTIVE;
    if (!second.WaitExit(ExitTimeoutMs, &code)) {
        second.Kill();
        return ::testing::AssertionFailure()
               << "the start did not end within " << ExitTimeoutMs << " ms";
    }
    if (code != expectedCode)
        return ::testing::AssertionFailure()
               << "exit code " << code << ", expected " << expectedCode;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TesselTest::Quit(probe::Target* target) {
    if (!target->PostQuitRequest())
        return ::testing::AssertionFailure() << "the quit request could not be posted";
    DWORD code = STILL_ACTIVE;
    if (!target->WaitExit(ExitTimeoutMs, &code))
        return ::testing::AssertionFailure()
               << "tessel.exe still runs " << ExitTimeoutMs << " ms after the quit request";
    if (code != 1)
        return ::testing::AssertionFailure()
               << "exit code " << code << " after the quit request, expected 1";
    return ::testing::AssertionSuccess();
}

} // namespace e2e
