#include "app/DialogueTestSupport.h"

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
        if (shifted != panel.Shifted()) {
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
