#include "app/DialogueTestSupport.h"

#include <wx/listbox.h>

#include "dialogs/SoftKeyboard.h"
#include "resources/DialogTemplates.h"

namespace dialoguetest {

namespace {

wxPoint Centre(const wxRect& rect) {
    return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}

// Where a character's key is, and on which layer.
bool FindKey(char c, int& row, int& cell, bool& shifted) {
    for (int layer = 0; layer < 2; ++layer) {
        for (row = 0; row < kKeyboardRows; ++row) {
            for (cell = 0; cell < kKeyboardCells; ++cell) {
                if (KeyAt(row, cell, layer == 1) == c) {
                    shifted = layer == 1;
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace

void DialogueTest::TearDown() {
    delete dlg;
    dlg = nullptr;
}

void DialogueTest::Start() {
    dlg = new CferrocaskDlg(vault.Directory());
    ASSERT_TRUE(dlg->Create());
    dlg->Move(60, 60);
    guitest::PaintCounter paints(&dlg->m_dlgPassword);
    dlg->Show();
    ASSERT_TRUE(guitest::PumpUntil([&] { return paints.Count() > 0; }));
    // The window may be exposed more than once as it comes up; wait until it is still.
    for (int seen = -1; seen != paints.Count();) {
        seen = paints.Count();
        guitest::Pump(150);
    }
}

void DialogueTest::Type(const std::string& text) {
    DiaPassword& panel = dlg->m_dlgPassword;
    for (const char c : text) {
        int row = 0, cell = 0;
        bool shifted = false;
        ASSERT_TRUE(FindKey(c, row, cell, shifted)) << "no key for " << c;
        if (shifted != panel.m_shift) {
            panel.OnLButtonUp(Centre(LeftShiftRect(panel.KeyboardOrigin())));
        }
        panel.OnLButtonUp(Centre(KeyRect(panel.KeyboardOrigin(), row, cell)));
    }
    panel.OnOK();
    guitest::Pump(10);
}

std::string DialogueTest::WritePicture(const std::string& name, int seed) {
    const std::string path = vault.File(name);
    guitest::WritePicture(path, 50, 40, [seed](int x, int y) {
        return guitest::Rgb{(x * 5 + seed * 40) % 256, (y * 6) % 256, (x * y + seed) % 256};
    });
    return path;
}

void DialogueTest::ChoosePictureAndConfirm(const std::string& path) {
    files.Choose(path);
    dlg->m_dlgSelimg.OnChoosePicture();
    guitest::Pump(60);
    dlg->m_dlgSelimg.OnOK();
    guitest::Pump(10);
}

void DialogueTest::Open(const std::string& master) {
    Start();
    Type(master);
    dlg->m_dlgImage.OnSeen();
    guitest::Pump(30);
    ASSERT_EQ(dlg->m_state, kStateList);
}

void DialogueTest::Select(int index) {
    dlg->m_dlgList.m_listBox->SetSelection(index);
    dlg->m_dlgList.OnSelectionChange();
}

std::string DialogueTest::Prompt() const {
    return std::string(dlg->m_dlgPassword.m_prompt.utf8_str());
}

void DialogueTest::ExpectAsked(const char* prompt, int state) {
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgPassword);
    EXPECT_EQ(Prompt(), prompt);
    EXPECT_EQ(dlg->m_state, state);
}

void DialogueTest::ExpectList(int state) {
    EXPECT_EQ(ShownPanel(), &dlg->m_dlgList);
    EXPECT_EQ(dlg->m_state, state);
}

std::vector<std::string> DialogueTest::ListedNames() const {
    std::vector<std::string> names;
    const wxListBox* list = dlg->m_dlgList.m_listBox;
    for (unsigned i = 0; i < list->GetCount(); ++i) {
        names.emplace_back(list->GetString(i).utf8_str());
    }
    return names;
}

wxWindow* DialogueTest::ShownPanel() const {
    wxWindow* const panels[] = {&dlg->m_dlgPassword, &dlg->m_dlgSelimg, &dlg->m_dlgImage,
                                &dlg->m_dlgList, &dlg->m_dlgPassName};
    wxWindow* shown = nullptr;
    for (wxWindow* panel : panels) {
        if (panel->IsShown()) {
            if (shown != nullptr) {
                return nullptr;
            }
            shown = panel;
        }
    }
    return shown;
}

std::vector<std::string> DialogueTest::TakeMessages() {
    std::vector<std::string> texts = boxes.Texts();
    boxes.Clear();
    return texts;
}

}  // namespace dialoguetest
