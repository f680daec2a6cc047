// The one recorder, in the shape of Wine's comctl32 tests (dlls/comctl32/tests/msg.h): what is
// sent, posted or seen goes into a sequence, a table says what must happen, and a mismatch prints
// both whole.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

enum MsgFlags : unsigned {
    Sent = 0x1,      // sent to a window, handled before the call returned
    Posted = 0x2,    // posted to a window or its thread
    Seen = 0x4,      // observed: a notification, a state change, an event
    WParam = 0x10,   // compare wParam
    LParam = 0x20,   // compare lParam
    Optional = 0x40, // may be missing from the actual sequence
};

// Things a test sees from outside, numbered above every message so that they never clash.
enum SeenEvent : UINT {
    WindowShown = 0x10000,
    WindowHidden,
    TrayIconAdded,
    TrayIconRemoved,
    BoxShown, // Text: as BoxText has it, the default button last; LParam: 1 if owned
    BoxClosed,
    ProcessEnded, // WParam: exit code
};

struct Msg {
    UINT Message = 0;
    unsigned Flags = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    std::wstring Text = {}; // compared when the expected entry has one
};

class MsgSequence {
  public:
    void Add(const Msg& msg) { msgs_.push_back(msg); }
    const std::vector<Msg>& Messages() const { return msgs_; }

    // Walks the recorded and the expected entries side by side; optional entries may be
    // skipped, nothing may be left over on either side.
    ::testing::AssertionResult Matches(const std::vector<Msg>& expected,
                                       const std::string& context) const;

  private:
    std::vector<Msg> msgs_;
};
