// The clipboard as other programs (xclip) see it: the password put there, marked secret,
// and cleared again only while it is the text this program put there last.
#include <gtest/gtest.h>

#include "support/GuiTest.h"

using namespace platform;
using guitest::XclipCopy;
using guitest::XclipRead;
using Text = std::optional<std::string>;

namespace {

const char kPassword[] = "pw&\xC3\xFB";  // GB18030, as the vault keeps it
const char kPasswordUtf8[] = "pw&名";

void PutOnClipboard(const std::string& gb18030Text) {
    ClipboardSession clipboard;
    clipboard.Empty();
    EXPECT_TRUE(clipboard.PutText(ClipboardTextBlock::FromGb18030(gb18030Text)));
}

bool EmptyIfOurs() {
    ClipboardSession clipboard;
    EXPECT_TRUE(clipboard.IsOpen());
    return clipboard.EmptyIfOurs();
}

TEST(ClipboardTest, OtherProgramsPasteThePasswordMarkedSecretUntilItIsEmptied) {
    PutOnClipboard(kPassword);
    EXPECT_NE(XclipRead("clipboard", "TARGETS").value_or("").find(kPasswordHintFormat),
              std::string::npos);
    EXPECT_EQ(XclipRead("clipboard", kPasswordHintFormat), Text("secret"));
    EXPECT_EQ(XclipRead("clipboard"), Text(kPasswordUtf8));
    // The selection that a middle click pastes never gets it.
    EXPECT_EQ(XclipRead("primary").value_or("").find("pw&"), std::string::npos);
    ClipboardSession().Empty();
    EXPECT_EQ(XclipRead("clipboard").value_or(""), "");
}

TEST(ClipboardTest, ClearingRemovesOnlyThePasswordThisProgramPutThereLast) {
    {
        XclipCopy other("someone else's");  // nothing of ours was ever there
        EXPECT_FALSE(EmptyIfOurs());
        EXPECT_EQ(XclipRead("clipboard"), Text("someone else's"));
    }
    PutOnClipboard(kPassword);
    EXPECT_TRUE(EmptyIfOurs());
    EXPECT_EQ(XclipRead("clipboard").value_or(""), "");
    EXPECT_FALSE(EmptyIfOurs());  // nothing left to clear

    // Copied after our password, a text survives, also one a little different from it.
    for (const std::string later : {"copied later", "pw&名 "}) {
        PutOnClipboard(kPassword);
        XclipCopy other(later);
        EXPECT_FALSE(EmptyIfOurs()) << later;
        EXPECT_EQ(XclipRead("clipboard"), Text(later));
        EXPECT_TRUE(other.Serving()) << later;
    }
    // A clipboard manager that took our password over serves it now: it still goes.
    PutOnClipboard(kPassword);
    {
        XclipCopy manager(kPasswordUtf8);
        EXPECT_TRUE(EmptyIfOurs());
        EXPECT_EQ(XclipRead("clipboard").value_or(""), "");
        EXPECT_TRUE(guitest::PumpUntil([&] { return !manager.Serving(); }));
    }
    // Only the last text put there counts: an earlier password copied back stays.
    PutOnClipboard("first-pw");
    PutOnClipboard("second-pw");
    XclipCopy other("first-pw");
    EXPECT_FALSE(EmptyIfOurs());
    EXPECT_EQ(XclipRead("clipboard"), Text("first-pw"));
}

}  // namespace
