#include "sequence.h"
#include "helpers.h"
#include "app/globals.h"
#include <cstdio>

namespace {

struct Name {
    UINT Message;
    const char* Text;
};

constexpr Name Names[] = {
    {WM_CLOSE, "WM_CLOSE"},
    {WM_COMMAND, "WM_COMMAND"},
    {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
    {WM_KEYDOWN, "WM_KEYDOWN"},
    {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
    {WM_APP_TRAY, "tray callback"},
    {WindowShown, "window shown"},
    {WindowHidden, "window hidden"},
    {TrayIconAdded, "tray icon added"},
    {TrayIconRemoved, "tray icon removed"},
    {BoxShown, "box shown"},
    {BoxClosed, "box closed"},
    {ProcessEnded, "process ended"},
};

std::string Describe(const Msg& msg) {
    std::string out = msg.Flags & Sent ? "sent " : msg.Flags & Posted ? "posted " : "seen ";
    char number[64];
    snprintf(number, sizeof number, "0x%x", msg.Message);
    const char* name = number;
    for (const Name& n : Names)
        if (n.Message == msg.Message)
            name = n.Text;
    out += name;
    snprintf(number, sizeof number, " w=0x%llx l=0x%llx",
             static_cast<unsigned long long>(msg.WParam),
             static_cast<unsigned long long>(msg.LParam));
    out += number;
    if (!msg.Text.empty())
        out += " \"" + Narrow(msg.Text) + "\"";
    return msg.Flags & Optional ? out + " (optional)" : out;
}

std::string Table(const std::vector<Msg>& msgs) {
    std::string out;
    for (size_t i = 0; i < msgs.size(); ++i)
        out += "    " + std::to_string(i) + ": " + Describe(msgs[i]) + "\n";
    return out.empty() ? "    (nothing)\n" : out;
}

bool Same(const Msg& expected, const Msg& actual) {
    constexpr unsigned Kind = Sent | Posted | Seen;
    return expected.Message == actual.Message && (expected.Flags & Kind) == (actual.Flags & Kind) &&
           (!(expected.Flags & WParam) || expected.WParam == actual.WParam) &&
           (!(expected.Flags & LParam) || expected.LParam == actual.LParam) &&
           (expected.Text.empty() || expected.Text == actual.Text);
}

} // namespace

::testing::AssertionResult MsgSequence::Matches(const std::vector<Msg>& expected,
                                                const std::string& context) const {
    size_t e = 0, a = 0;
    while (e < expected.size() || a < msgs_.size()) {
        if (e < expected.size() && a < msgs_.size() && Same(expected[e], msgs_[a])) {
            ++e, ++a;
        } else if (e < expected.size() && (expected[e].Flags & Optional)) {
            ++e;
        } else {
            return ::testing::AssertionFailure()
                   << context << ": expected entry " << e << " differs from actual entry " << a
                   << "\n  expected:\n"
                   << Table(expected) << "  actual:\n"
                   << Table(msgs_);
        }
    }
    return ::testing::AssertionSuccess();
}
