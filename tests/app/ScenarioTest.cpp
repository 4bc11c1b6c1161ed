// A whole life of a vault, played on the real program from outside as a user plays it:
// clicks and keys through the X server, GTK's own file dialog and message boxes, the
// clipboard read by another program, and the files left in the program folder.
#include <regex>

#include "resources/DialogTemplates.h"
#include "support/ProgramWindow.h"

using testsupport::ListFiles;
using testsupport::ReadFile;

namespace {

// Only keys of the soft keyboard's upper three rows: the bottom row may lie under OK.
const std::string kMaster = "qwe12345", kNewMaster = "asdf6789";
const std::string kMailPassword = "pass1word", kBankPassword = "kiwi4321";
const char* const kPictures[] = {"holiday.jpg", "garden.jpg"};

class ScenarioTest : public testsupport::ProgramFixture {
protected:
    void SetUp() override {
        // Two photograph-like colour patterns as JPEG files in the program folder.
        for (const int seed : {1, 2}) {
            xdriver::Image image{200, 150, std::vector<std::uint8_t>(200 * 150 * 3)};
            for (int i = 0; i < 200 * 150 * 3; ++i) {
                const int x = i / 3 % 200, y = i / 600;
                const int values[] = {x + seed * 70, y * 2 + seed * 30, x * y / 40 + seed * 90};
                image.rgb[i] = static_cast<std::uint8_t>(values[i % 3]);
            }
            ASSERT_TRUE(xdriver::SaveImage(image, vault.File(kPictures[seed - 1]), "jpeg"));
        }
    }

    // A new master password, typed twice, and a picture chosen in the file dialog.
    void SetMasterPassword(const std::string& master, const std::string& picture) {
        ASSERT_TRUE(window->TypePassword(master) && window->TypePassword(master));  // and again
        Settle();
        window->Click(PictureChoiceTemplate(), ids::kChoosePictureButton);
        ASSERT_TRUE(window->Accept(vault.File(picture))) << "the file dialog stays";
        Settle();
        window->Screenshot("scenario-picture-chosen");
        window->Click(PictureChoiceTemplate(), ids::kOk);
        ASSERT_TRUE(window->Accept()) << "no message that the password is set";
        Settle();
    }

    void AddEntry(const std::string& name, const std::string& password) {
        window->Click(ListTemplate(), ids::kAddButton);
        Settle();
        x.Focus(window->Id());
        window->Click(NameTemplate(), ids::kNameEdit);
        x.Type(name);
        window->Click(NameTemplate(), ids::kOk);
        ASSERT_TRUE(window->TypePassword(password) && window->TypePassword(password));  // and again
        Settle();
    }

    // Selects the list's row with the pointer and the arrow key, and copies its password,
    // answering the warning and the master password; another program then pastes it.
    void CopyRow(int row, const std::string& master, const std::string& expected) {
        const wxRect list = testsupport::ProgramWindow::ControlRect(ListTemplate(), ids::kNameList);
        x.Focus(window->Id());
        x.Click(window->Id(), xdriver::Point{list.x + 40, list.y + 8});
        for (int i = 0; i < row; ++i) {
            x.Press("Down");
        }
        Settle();
        window->Screenshot("scenario-two-entries");
        window->Click(ListTemplate(), ids::kCopyButton);
        const unsigned long box = window->WaitForOtherWindow(8000);
        ASSERT_NE(box, 0u) << "no clipboard warning";
        Settle();
        window->Screenshot("scenario-copy-warning", box);
        ASSERT_TRUE(window->Accept());
        ASSERT_TRUE(window->TypePassword(master));
        Settle();
        std::string pasted;
        EXPECT_TRUE(xdriver::WaitUntil(
            [&] {
                testsupport::RunCommand({"xclip", "-o", "-selection", "clipboard"}, &pasted);
                return pasted == expected;
            },
            5000))
            << "clipboard: " << pasted;
    }
};

}  // namespace

TEST_F(ScenarioTest, SetUpFillCopyReopenAndChangeTheMasterPassword) {
    // First start: a new vault, two entries, one password copied out; the exit button.
    Start();
    Settle();
    SetMasterPassword(kMaster, kPictures[0]);
    AddEntry("mail", kMailPassword);
    AddEntry("bank", kBankPassword);
    CopyRow(1, kMaster, kBankPassword);
    window->Click(ListTemplate(), ids::kExitButton);
    ExpectSuccessfulEnd();
    EXPECT_EQ(vault.Names(kMaster), (std::vector<std::string>{"mail", "bank"}));
    EXPECT_EQ(vault.Password(kMaster, "mail"), kMailPassword);
    EXPECT_EQ(vault.Password(kMaster, "bank"), kBankPassword);
    EXPECT_TRUE(ListFiles(vault.Directory(), "ferrocask_").empty());
    vault.CloseFiles();

    // Second start: the picture check opens the vault.
    Start();
    ASSERT_TRUE(window->TypePassword(kMaster));
    Settle();
    window->Screenshot("scenario-picture-check");
    window->Click(PictureCheckTemplate(), ids::kOk);
    Settle();
    CopyRow(0, kMaster, kMailPassword);

    // A new master password with a new picture; the vault as it was is kept aside first.
    const std::string before = ReadFile(vault.File("ferrocask.db"));
    window->Click(ListTemplate(), ids::kChangeMasterButton);
    ASSERT_TRUE(window->TypePassword(kMaster));
    SetMasterPassword(kNewMaster, kPictures[1]);
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();
    const std::vector<std::string> backups = ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(std::regex_match(backups[0], std::regex(R"(ferrocask_\d{14}\.db)"))) << backups[0];
    EXPECT_TRUE(ReadFile(vault.File(backups[0])) == before) << "the backup differs";
    EXPECT_FALSE(ReadFile(vault.File("ferrocask.db")) == before);
    EXPECT_EQ(vault.Names(kNewMaster), (std::vector<std::string>{"mail", "bank"}));
    EXPECT_EQ(vault.Password(kNewMaster, "bank"), kBankPassword);
}
