// The real program, started from its own folder and driven as a user drives it: through the
// X server, GTK's own file dialog and message boxes, the clipboard and the files it leaves.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>

#include "resources/DialogTemplates.h"
#include "support/LoopbackServer.h"
#include "support/ProgramWindow.h"

using testsupport::FileExists;
using testsupport::ListFiles;
using testsupport::ReadFile;
using xdriver::WaitUntil;
using ProgramTest = testsupport::ProgramFixture;

namespace {

// Whether another program holds the folder's lock (asked once a copy runs: the probe takes it).
bool FolderLocked(const std::string& folder) {
    return testsupport::RunCommand({"flock", "--nonblock", folder, "true"}) != 0;
}

// The file's bytes and the time it was last changed.
std::string StateOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return ReadFile(path) + "@" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
}

// The names of the font files the process maps, each once, a line each.
std::string MappedFonts(pid_t pid) {
    std::istringstream maps(ReadFile("/proc/" + std::to_string(pid) + "/maps"));
    std::set<std::string> fonts;
    for (std::string line; std::getline(maps, line);) {
        const std::string name = line.substr(line.rfind('/') + 1);
        const std::string::size_type dot = name.rfind('.');
        if (dot != std::string::npos &&
            (name.substr(dot) == ".ttf" || name.substr(dot) == ".ttc")) {
            fonts.insert(name);
        }
    }
    std::string lines;
    for (const std::string& name : fonts) {
        lines += name + "\n";
    }
    return lines;
}

// Only keys of the soft keyboard's upper three rows: the bottom row may lie under OK.
const std::string kMaster = "qwe12345", kNewMaster = "asdf6789";
const std::string kMailPassword = "pass1word", kBankPassword = "kiwi4321";
// The second is a TIFF file, which only the widget library's decoders read: the program
// registers them when it decodes its first picture, not at start.
struct PictureFile {
    const char* name;
    const char* type;  // as the picture library names the format
};
const PictureFile kPictures[] = {{"holiday.jpg", "jpeg"}, {"garden.tif", "tiff"}};

class ScenarioTest : public testsupport::ProgramFixture {
protected:
    void SetUp() override {
        // Two photograph-like colour patterns as picture files in the program folder.
        for (const int seed : {1, 2}) {
            xdriver::Image image{200, 150, std::vector<std::uint8_t>(200 * 150 * 3)};
            for (int i = 0; i < 200 * 150 * 3; ++i) {
                const int x = i / 3 % 200, y = i / 600;
                const int values[] = {x + seed * 70, y * 2 + seed * 30, x * y / 40 + seed * 90};
                image.rgb[i] = static_cast<std::uint8_t>(values[i % 3]);
            }
            const PictureFile& picture = kPictures[seed - 1];
            ASSERT_TRUE(xdriver::SaveImage(image, vault.File(picture.name), picture.type));
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

    // Selects a row, copies its password (after the warning and the master password), pastes it.
    void CopyRow(int row, const std::string& master, const std::string& expected) {
        const wxRect list = testsupport::ProgramWindow::ControlRect(ListTemplate(), ids::kNameList);
        x.Focus(window->Id());
        x.Click(window->Id(), wxPoint{list.x + 40, list.y + 8});
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
        const std::vector<std::string> paste{"xclip", "-o", "-selection", "clipboard"};
        EXPECT_TRUE(WaitUntil(
            [&] { return testsupport::RunCommand(paste, &pasted) == 0 && pasted == expected; },
            5000))
            << "clipboard: " << pasted;
    }
};

}  // namespace

TEST_F(ProgramTest, StartsWithoutConfigurationMakesItsFilesAndEndsWhenClosed) {
    // The update check goes to the built-in server: in a network of its own with nothing in
    // it, the attempt fails at once without leaving the machine.
    Start("", true);
    EXPECT_EQ(x.Size(window->Id()), wxPoint(482, 315));
    wxPoint keyboard;
    ASSERT_TRUE(window->WaitForKeyboard(&keyboard, 15000)) << "the password panel is not drawn";
    window->Screenshot("program-first-run");
    EXPECT_TRUE(FileExists(vault.File("ferrocask.db")));
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
    EXPECT_FALSE(FileExists(vault.File("config.txt")));
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();
    // Nothing was set up: the file stays an empty vault.
    EXPECT_FALSE(vault.store.VaultExists(vault.Directory()));
}

TEST_F(ProgramTest, EndsAtOnceWhenClosedWithTheVaultOpenWhileTheUpdateServerKeepsSilent) {
    vault.Create(kMaster, 4, {{"mail", "pw-mail"}});
    vault.CloseFiles();
    testsupport::LoopbackServer silent;
    Start("/config/update/server " + silent.Address() + "\n");
    ASSERT_TRUE(window->TypePassword(kMaster));
    Settle();
    window->Click(PictureCheckTemplate(), ids::kOk);
    Settle();
    wxPoint keyboard;
    EXPECT_FALSE(window->WaitForKeyboard(&keyboard, 300)) << "the list is not shown";
    // The check waits for an answer that does not come (for up to 16 seconds).
    ASSERT_TRUE(WaitUntil([&] { return silent.Request(100).find("GET /software/") == 0; }, 15000));
    const auto closed = std::chrono::steady_clock::now();
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd(8000);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(5));
    EXPECT_EQ(vault.Names(kMaster), std::vector<std::string>{"mail"});
    EXPECT_TRUE(ListFiles(vault.Directory(), "ferrocask_").empty());
    EXPECT_EQ(ListFiles(vault.Directory(), "log_").size(), 1u);
}

// The texts of the first panel, in its templates and painted on it, come from the program's
// own small font: the large CJK face it was cut from is not mapped at all. Without that file
// beside it, the program draws the same panel from the installed face.
TEST_F(ProgramTest, DrawsItsTextsFromItsOwnFontAndFromTheInstalledFaceWithoutIt) {
    Start();
    wxPoint keyboard;
    ASSERT_TRUE(window->WaitForKeyboard(&keyboard, 15000)) << "the password panel is not drawn";
    Settle();
    std::string fonts = MappedFonts(run->Pid());
    EXPECT_NE(fonts.find("ferrocask-ui.ttf"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find("wqy-zenhei.ttc"), std::string::npos) << fonts;
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();

    ASSERT_EQ(std::remove(vault.File("ferrocask-ui.ttf").c_str()), 0);
    testsupport::ProgramRun plain(vault.Directory());
    testsupport::ProgramWindow plainWindow(x, plain.Pid());
    ASSERT_TRUE(plainWindow.WaitShown(60000)) << plain.Output();
    ASSERT_TRUE(plainWindow.WaitForKeyboard(&keyboard, 15000));
    ASSERT_TRUE(plainWindow.WaitSettled(8000));
    fonts = MappedFonts(plain.Pid());
    EXPECT_EQ(fonts.find("ferrocask-ui.ttf"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("wqy-zenhei.ttc"), std::string::npos) << fonts;
    x.RequestClose(plainWindow.Id());
    ASSERT_TRUE(plain.WaitForEnd(10000));
}

// The first copy keeps the folder to itself and turns core dumps off; the second one shows
// its message box, leaves the vault file alone and ends with status 1 once it is answered.
TEST_F(ProgramTest, ASecondCopyLeavesTheVaultAloneAndTheFirstIsUndumpable) {
    Start();
    const std::string db = vault.File("ferrocask.db");
    EXPECT_TRUE(FolderLocked(vault.Directory()));
    EXPECT_EQ(testsupport::CoreFileLimits(run->Pid()), "0 0");
    // The first copy made the vault file; it stays as it is from here on.
    Settle();
    ASSERT_TRUE(FileExists(db));
    const std::string before = StateOf(db);
    testsupport::ProgramRun second(vault.Directory());
    ASSERT_TRUE(testsupport::ProgramWindow(x, second.Pid()).Accept()) << "no box:\n"
                                                                      << second.Output();
    ASSERT_TRUE(second.WaitForEnd(20000)) << "it did not end:\n" << second.Output();
    EXPECT_TRUE(WIFEXITED(second.Status()) && WEXITSTATUS(second.Status()) == 1)
        << "wait status " << second.Status() << "\n"
        << second.Output();
    EXPECT_TRUE(StateOf(db) == before) << "the vault file changed";
    EXPECT_TRUE(FolderLocked(vault.Directory()));  // still the first copy's
    ::kill(run->Pid(), SIGKILL);
    ASSERT_TRUE(run->WaitForEnd(20000));
    EXPECT_FALSE(FolderLocked(vault.Directory()));
}

// A whole life of a vault: set up, filled, copied from, reopened, given a new master password.
TEST_F(ScenarioTest, SetUpFillCopyReopenAndChangeTheMasterPassword) {
    // First start: a new vault, two entries, one password copied out; the exit button.
    Start();
    Settle();
    SetMasterPassword(kMaster, kPictures[0].name);
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
    SetMasterPassword(kNewMaster, kPictures[1].name);
    x.RequestClose(window->Id());
    ExpectSuccessfulEnd();
    const std::vector<std::string> backups = ListFiles(vault.Directory(), "ferrocask_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(ReadFile(vault.File(backups[0])) == before) << "the backup differs";
    EXPECT_FALSE(ReadFile(vault.File("ferrocask.db")) == before);
    EXPECT_EQ(vault.Names(kNewMaster), (std::vector<std::string>{"mail", "bank"}));
    EXPECT_EQ(vault.Password(kNewMaster, "bank"), kBankPassword);
}
