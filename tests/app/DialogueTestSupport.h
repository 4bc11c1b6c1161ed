// Drives the real main window: types on its soft keyboard, answers its message boxes and
// file dialogs, and looks at what it shows.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CferrocaskDlg.h"
#include "dialogs/SoftKeyboard.h"
#include "support/GuiTest.h"
#include "support/TestVault.h"

namespace dialoguetest {

inline wxPoint Centre(const wxRect& rect) {
    return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}

class DialogueTest : public ::testing::Test {
protected:
    void TearDown() override { delete dlg; }

    // Shows the main window on the test vault's directory once its password panel is drawn.
    void Start() {
        dlg = new CferrocaskDlg(vault.Directory());
        ASSERT_TRUE(dlg->Create());
        dlg->Move(60, 60);
        ASSERT_TRUE(guitest::Repainted(
            &dlg->m_dlgPassword, [&] { dlg->Show(); }, 150));
    }

    // Clicks text on the soft keyboard through the panel's click handler, switching the
    // shift layer as needed, then presses OK.
    void Type(const std::string& text) {
        DiaPassword& panel = dlg->m_dlgPassword;
        for (const char c : text) {
            int key = 0;
            const int keys = kKeyboardRows * kKeyboardCells;
            while (key < 2 * keys && KeyAt(key / kKeyboardCells % kKeyboardRows,
                                           key % kKeyboardCells, key >= keys) != c) {
                ++key;
            }
            ASSERT_LT(key, 2 * keys) << "no key for " << c;
            if ((key >= keys) != panel.Shifted()) {
                panel.OnLButtonUp(Centre(LeftShiftRect(panel.KeyboardOrigin())));
            }
            panel.OnLButtonUp(
                Centre(KeyRect(panel.KeyboardOrigin(), key / kKeyboardCells % kKeyboardRows,
                               key % kKeyboardCells)));
        }
        panel.OnOK();
        guitest::Pump(10);
    }
    void TypeTwice(const std::string& text) {
        Type(text);
        Type(text);
    }

    std::vector<wxWindow*> Panels() const {
        return {&dlg->m_dlgPassword, &dlg->m_dlgSelimg, &dlg->m_dlgImage, &dlg->m_dlgList,
                &dlg->m_dlgPassName};
    }
    // The one panel shown, or null when none or more than one is.
    wxWindow* ShownPanel() const {
        std::vector<wxWindow*> all = Panels(), shown;
        std::copy_if(all.begin(), all.end(), std::back_inserter(shown),
                     [](wxWindow* panel) { return panel->IsShown(); });
        return shown.size() == 1 ? shown[0] : nullptr;
    }

    void Click(int id) { guitest::ClickCentre(dlg, dlg->FindWindow(id)->GetRect()); }

    testsupport::TestVault vault;
    guitest::MessageBoxes boxes;
    guitest::FileChoice files;
    CferrocaskDlg* dlg = nullptr;
};

}  // namespace dialoguetest
