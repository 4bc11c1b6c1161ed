#include <wx/listbox.h>

#include "app/DialogueTestSupport.h"
#include "resources/Texts.h"

using namespace dialoguetest;

namespace {

const std::string kMaster = "tr0ub4dor";

class OpeningTest : public DialogueTest {
protected:
    void SetUp() override {
        vault.Create(kMaster, 3, {{"mail", "pw-mail"}, {"bank", "pw-bank"}, {"forum", "pw-forum"}});
        TestVault::MakePicture(stored, 3);
    }
    bool ShowsStoredPicture() const {
        const Ombrix::Data<unsigned char>& shown = dlg->m_dlgImage.m_pixels;
        return shown.m_nLength == kPictureBytes &&
               std::equal(stored.m_pBuffer, stored.m_pBuffer + kPictureBytes, shown.m_pBuffer);
    }

    using TestVault = testsupport::TestVault;
    Ombrix::Data<unsigned char> stored;
};

}  // namespace

TEST_F(OpeningTest, OnlyTheSeenPictureOpensTheVault) {
    Start();
    ExpectAsked(texts::kEnterVaultPassword, kStateOpenVault);

    // A wrong password shows a scrambled picture; "没看到" asks again, any number of times.
    for (const char* wrong : {"wrongpass1", "tr0ub4dor!", "abc"}) {
        Type(wrong);
        EXPECT_EQ(ShownPanel(), &dlg->m_dlgImage);
        EXPECT_EQ(dlg->m_state, kStatePictureCheck);
        EXPECT_EQ(std::string(dlg->m_dlgImage.m_prompt.utf8_str()), texts::kPictureNotSeenAdvice);
        EXPECT_FALSE(ShowsStoredPicture());
        if (std::string(wrong).size() < 8) {
            EXPECT_EQ(dlg->m_dlgImage.m_pixels.m_nLength, 0);  // nothing to show
        }
        dlg->m_dlgImage.OnNotSeen();
        ExpectAsked(texts::kEnterVaultPassword, kStateOpenVault);
        EXPECT_TRUE(dlg->m_enteredPassword.empty() && dlg->m_masterPassword.empty());
    }

    Type(kMaster);
    EXPECT_TRUE(ShowsStoredPicture());
    EXPECT_EQ(dlg->m_dlgImage.m_width, 128);
    EXPECT_EQ(dlg->m_dlgImage.m_height, 128);
    guitest::Pump(100);
    guitest::SaveScreenshot(dlg, "main-window-picture-check");
    dlg->m_dlgImage.OnSeen();
    ExpectList();
    EXPECT_EQ(dlg->m_masterPassword.view(), kMaster);
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"mail", "bank", "forum"}));
    EXPECT_EQ(dlg->m_dlgList.m_listBox->GetSelection(), 0);
    EXPECT_TRUE(TakeMessages().empty());
    guitest::Pump(300);
    guitest::SaveScreenshot(dlg, "main-window-list");
}
