// What every end-to-end test needs: its own registry state, its own image folder and
// stand-in state, tessel.exe started and idle, and everything gone again afterwards.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "disklist/listview.h"
#include "settings/store.h"
#include "helpers.h"
#include "imagegen.h"
#include "probe.h"
#include "sequence.h"
#include "standin_client.h"

namespace e2e {

constexpr DWORD IdleTimeoutMs = 30000;
// How long a test waits for anything Tessel does after its start, its end included.
constexpr DWORD ExitTimeoutMs = 10000;

std::string Describe(const std::vector<standin::JournalEntry>& entries);
std::string Describe(const std::vector<standin::Attachment>& attached);

// How a row should look; the startup column, check box and images follow from Marked.
struct ExpectedRow {
    std::wstring Path;
    std::wstring Status;
    bool Marked = false;
    bool ErrorImage = false;
    bool Handle = false;
};

// Compares the live rows with the table, in order, and prints both on a mismatch.
::testing::AssertionResult RowsAre(const std::vector<probe::Row>& actual,
                                   const std::vector<ExpectedRow>& expected);

// A row says its image is attached ("Mounted...", a failed unmount) and holds its handle exactly
// when the process holds the image attached, and the process holds no other.
::testing::AssertionResult RowsMatchAttachments(const std::vector<probe::Row>& rows, DWORD pid);

// What a box shows, as Answer and a BoxShown entry have it: caption, text, the ids of its buttons
// (the default last).
std::wstring BoxText(const std::wstring& caption, const std::wstring& text,
                     const std::vector<int>& buttons);
// The error box for a code: the system's text for it.
std::wstring ErrorBoxText(DWORD code);
// The next box once it is whole (it has its default button).
probe::Box NextBox(const probe::Target& tessel);
// Presses a button of the next box and waits until the box is gone; what the box showed, as
// BoxText has it with the default button last, or "(no box)".
std::wstring Answer(const probe::Target& tessel, int button);
// One look at everything a step may change: the rows as the table says, the user's values
// exactly one per row with the row's flag, and each row attached exactly when it says so.
::testing::AssertionResult ListIs(const probe::Target& tessel,
                                  const std::vector<ExpectedRow>& rows);

// Works a running Tessel as a user would and records, after each step, what a user then notices:
// the window shown or hidden, the tray icon, a box coming or going, the process ending.
class Observer {
  public:
    explicit Observer(probe::Target* tessel);
    // Does act and records it as step; then waits until something changes (a posted message, a
    // key, a button pressed) or reads the changes at once (a sent message, a click).
    void Do(const Msg& step, bool wait, const std::function<void()>& act);
    void WaitEnd();
    const MsgSequence& Sequence() const { return sequence_; }

  private:
    struct State {
        bool Visible = false, Icon = false, Running = false;
        DWORD Code = 0;
        HWND BoxWindow = nullptr;
        Msg Box; // BoxShown
    };
    State Read() const;
    void Record(bool waitForChange);

    probe::Target* tessel_;
    State last_;
    MsgSequence sequence_;
};

class TesselTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The Windows version Wine reports to tessel.exe: win7, win8 or win10.
    void SetWindowsVersion(const wchar_t* version);
    std::wstring PathOf(const std::wstring& name) const { return folder_.PathOf(name); }
    std::wstring MakeImage(const std::wstring& name, imagegen::Kind kind);
    // A value of the user's settings key.
    void SetValue(const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
    void SetFlag(const std::wstring& name, const std::wstring& flag) {
        SetValue(name, REG_SZ, StringData(flag));
    }
    // Starts tessel.exe as the Run key does and waits until its start-up is over.
    ::testing::AssertionResult Start(probe::Target* target,
                                     const std::wstring& exe = probe::TesselExe());
    ::testing::AssertionResult Quit(probe::Target* target);

    TempFolder folder_;
    std::vector<HANDLE> started_;
};

} // namespace e2e
