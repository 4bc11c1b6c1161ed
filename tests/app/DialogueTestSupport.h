// Drives the real main window: types on its soft keyboard, answers its message boxes and
// file dialogs, and looks at what it shows.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CferrocaskDlg.h"
#include "support/GuiTest.h"
#include "support/TestVault.h"

namespace dialoguetest {

class DialogueTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Creates and shows the main window on the test vault's directory; waits until the
    // password panel has been drawn.
    void Start();

    // Clicks text on the soft keyboard (through the panel's click handler, switching the
    // shift layer as needed), then presses OK.
    void Type(const std::string& text);
    void TypeTwice(const std::string& text) {
        Type(text);
        Type(text);
    }

    // Chooses the picture file in the picture selection panel and confirms it.
    void ChoosePictureAndConfirm(const std::string& path);
    // Writes a picture file of a colour pattern made from seed.
    std::string WritePicture(const std::string& name, int seed);

    // The one panel shown, or null when none or more than one is.
    wxWindow* ShownPanel() const;
    // The messages shown since the last call.
    std::vector<std::string> TakeMessages();

    testsupport::TestVault vault;
    guitest::MessageBoxes boxes;
    guitest::FileChoice files{std::nullopt};
    CferrocaskDlg* dlg = nullptr;
};

}  // namespace dialoguetest
