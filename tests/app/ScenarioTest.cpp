// A whole life of a vault, played on the real program from outside as a user plays it:
// clicks and keys through the X server, GTK's own file dialog and message boxes, the
// clipboard read by another program, and the files left in the program folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>

#include "resources/DialogTemplates.h"
#include "support/ChildProcess.h"
#include "support/ProgramRun.h"
#include "support/ProgramWindow.h"
#include "support/TestVault.h"

using testsupport::ListFiles;
using testsupport::ProgramRun;
using testsupport::ProgramWindow;
using testsupport::ReadFile;

namespace {

// Only keys of the soft keyboard's upper three rows: the bottom row may lie under OK.
const std::string kMaster = "qwe12345";
const std::string kNewMaster = "asdf6789";
const std::string kMailPassword = "pass1word";
const std::string kBankPassword = "kiwi4321";

class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramRun::Install(FERROCASK_PROGRAM, vault.Directory());
        testsupport::WriteFile(vault.File("config.txt"), "/config/update/server off\n");
        // Two photograph-like colour patterns as JPEG files in the program folder.
        for (const int seed : {1, 2}) {
            xdriver::Image image{200, 150, {}};
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    image.rgb.insert(image.rgb.end(),
                                     {static_cast<std::uint8_t>(x + seed * 70),
                                      static_cast<std::uint8_t>(y * 2 + seed * 30),
                                      static_cast<std::uint8_t>(x * y / 40 + seed * 90)});
                }
            }
            ASSERT_TRUE(xdriver::SaveImage(image, vault.File(kPictures[seed - 1]), "jpeg"));
        }
    }

    void Start() {
        run = std::make_unique<ProgramRun>(vault.Directory());
        window = std::make_unique<ProgramWindow>(x, run->Pid());
        ASSERT_TRUE(window->WaitShown(20000)) << run->Output();
    }
    void ExpectEndedWithSuccess() {
        ASSERT_TRUE(run->WaitForEnd(10000)) << "still running";
        EXPECT_TRUE(WIFEXITED(run->Status()) && WEXITSTATUS(run->Status()) == 0)
            << "wait status " << run->Status() << "\n"
            << run->Output();
    }
    void Settle() { ASSERT_TRUE(window->WaitSettled(8000)); }

    // A new master password, typed twice, and a picture chosen in the file dialog.
    void SetMasterPassword(const std::string& master, const std::string& picture) {
        ASSERT_TRUE(window->TypePassword(master));
        ASSERT_TRUE(window->TypePassword(master));
        Settle();
        window->Click(PictureChoiceTemplate(), ids::kChoosePictureButton);
        ASSERT_TRUE(window->ChooseFile(vault.File(picture))) << "the file dialog stays";
        Settle();
        window->Screenshot("scenario-picture-chosen");
        window->Click(PictureChoiceTemplate(), ids::kOk);
        ASSERT_TRUE(window->AcceptBox()) << "no message that the password is set";
        Settle();
    }

    void AddEntry(const std::string& name, const std::string& password) {
        window->Click(ListTemplate(), ids::kAddButton);
        Settle();
        window->TypeInto(NameTemplate(), ids::kNameEdit, name);
        window->Click(NameTemplate(), ids::kOk);
        ASSERT_TRUE(window->TypePassword(password));
        ASSERT_TRUE(window->TypePassword(password));
        Settle();
    }

    // Selects the list's row with the pointer and the arrow key, and copies its password,
    // answering the warning and the master password; another program then pastes it.
    void CopyRow(int row, const std::string& master, const std::string& expected) {
        const xdriver::Point list = ProgramWindow::ControlCorner(ListTemplate(), ids::kNameList);
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
        ASSERT_TRUE(window->WaitSettled(3000));
        window->Screenshot("scenario-copy-warning", box);
        ASSERT_TRUE(window->AcceptBox());
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

    const char* kPictures[2] = {"holiday.jpg", "garden.jpg"};
    testsupport::TestVault vault;
    xdriver::XSession x;
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<ProgramWindow> window;
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
    ExpectEndedWithSuccess();
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
    ExpectEndedWithSuccess();
    const std::vector<std::string> backups = ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(std::regex_match(backups[0], std::regex(R"(ferrocask_\d{14}\.db)"))) << backups[0];
    EXPECT_TRUE(ReadFile(vault.File(backups[0])) == before) << "the backup differs";
    EXPECT_FALSE(ReadFile(vault.File("ferrocask.db")) == before);
    EXPECT_EQ(vault.Names(kNewMaster), (std::vector<std::string>{"mail", "bank"}));
    EXPECT_EQ(vault.Password(kNewMaster, "bank"), kBankPassword);
}
