// The clipboard as other programs (xclip) see it: the password put there, marked secret,
// and cleared again only while it is the text this program put there last.
#include <gtest/gtest.h>

#include <wx/clipbrd.h>

#include "platform/Clipboard.h"
#include "support/GuiTest.h"

using namespace platform;
using guitest::PutOnClipboard;
using guitest::XclipCopy;
using guitest::XclipRead;

namespace {

const char kPassword[] = "pw&\xC3\xFB";  // GB18030, as the vault keeps it
const char kPasswordUtf8[] = "pw&名";

bool EmptyIfOurs() {
    ClipboardSession clipboard;
    EXPECT_TRUE(clipboard.IsOpen());
    return clipboard.EmptyIfOurs();
}

bool ClipboardEmpty() {
    const std::optional<std::string> text = XclipRead("clipboard");
    return !text || text->empty();
}

}  // namespace

TEST(ClipboardTest, OtherProgramsPasteThePasswordMarkedSecretUntilItIsEmptied) {
    PutOnClipboard(kPassword);
    EXPECT_EQ(guitest::ClipboardText(), std::optional<std::string>(kPasswordUtf8));
    EXPECT_EQ(ClipboardTextBlock::FromGb18030("ok\x80"), nullptr);  // not GB18030
    const std::optional<std::string> targets = XclipRead("clipboard", "TARGETS");
    ASSERT_TRUE(targets.has_value());
    EXPECT_NE(targets->find(kPasswordHintFormat), std::string::npos) << *targets;
    EXPECT_EQ(XclipRead("clipboard", kPasswordHintFormat), std::optional<std::string>("secret"));
    EXPECT_EQ(XclipRead("clipboard"), std::optional<std::string>(kPasswordUtf8));
    EXPECT_EQ(XclipRead("clipboard", "text/plain;charset=utf-8"),
              std::optional<std::string>(kPasswordUtf8));
    // The selection that a middle click pastes never gets it.
    const std::optional<std::string> primary = XclipRead("primary");
    EXPECT_TRUE(!primary || primary->find("pw&") == std::string::npos) << *primary;

    // A clipboard that is busy elsewhere is left alone.
    ASSERT_TRUE(wxTheClipboard->Open());
    {
        ClipboardSession busy;
        EXPECT_FALSE(busy.IsOpen());
        busy.Empty();  // does nothing
        EXPECT_FALSE(busy.PutText(ClipboardTextBlock::FromGb18030("other")));
        EXPECT_FALSE(busy.EmptyIfOurs());
    }
    wxTheClipboard->Close();
    EXPECT_EQ(guitest::ClipboardText(), std::optional<std::string>(kPasswordUtf8));

    ClipboardSession().Empty();
    const std::optional<std::string> after = guitest::ClipboardText();
    EXPECT_TRUE(!after || after->empty());
}

TEST(ClipboardTest, ClearingRemovesOnlyThePasswordThisProgramPutThereLast) {
    // Nothing of ours was ever there: another program's text stays.
    {
        XclipCopy other("someone else's");
        EXPECT_FALSE(EmptyIfOurs());
        EXPECT_EQ(XclipRead("clipboard"), std::optional<std::string>("someone else's"));
    }
    PutOnClipboard(kPassword);
    EXPECT_TRUE(EmptyIfOurs());
    EXPECT_TRUE(ClipboardEmpty());
    EXPECT_FALSE(EmptyIfOurs());  // nothing left to clear

    // The user copies something else after our password: it survives the clearing, and so
    // does a text that only differs a little from the password.
    for (const std::string& later :
         {std::string("copied later"), kPasswordUtf8 + std::string(" ")}) {
        PutOnClipboard(kPassword);
        XclipCopy other(later);
        EXPECT_FALSE(EmptyIfOurs()) << later;
        EXPECT_EQ(XclipRead("clipboard"), std::optional<std::string>(later));
        EXPECT_TRUE(other.Serving()) << later;
    }
    // Another program (a clipboard manager) took the password over and serves it now: it is
    // still our password, so it goes.
    PutOnClipboard(kPassword);
    {
        XclipCopy manager(kPasswordUtf8);
        EXPECT_TRUE(EmptyIfOurs());
        EXPECT_TRUE(ClipboardEmpty());
        EXPECT_TRUE(guitest::PumpUntil([&] { return !manager.Serving(); }));
    }
    // Only the last text put there is remembered: the earlier password copied back by the
    // user stays.
    PutOnClipboard("first-pw");
    PutOnClipboard("second-pw");
    XclipCopy other("first-pw");
    EXPECT_FALSE(EmptyIfOurs());
    EXPECT_EQ(XclipRead("clipboard"), std::optional<std::string>("first-pw"));
}
