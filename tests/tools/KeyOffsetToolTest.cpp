// The key offset tool, run as a program on vaults made under other builds' offsets.

#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

namespace {

using vaulttest::Records;

const std::string kEight = "abcd1234";
const std::string kFifteen = "fifteen-bytes!!";
const std::string kSixteen = "sixteen-bytes-pw";
const int kOffsets[] = {0, 61, 200, 255};

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

// Runs the tool with args and input as its standard input (a file, so no terminal).
ToolRun RunTool(std::vector<std::string> args, const std::string& input) {
    testsupport::TempDir scratch;
    testsupport::WriteFile(scratch.File("input"), input);
    args.insert(args.begin(), {"sh", "-c", "in=$1; shift; exec \"$0\" \"$@\" <\"$in\" 2>&1",
                               KEYOFFSET_TOOL, scratch.File("input")});
    ToolRun run;
    run.exitCode = testsupport::RunCommand(args, &run.output);
    return run;
}

ToolRun RunTool(const std::string& vault, const std::string& password) {
    return RunTool(std::vector<std::string>{vault}, password + "\n");
}

// A picture as a photo scaled down would give: gradients in each channel with a little
// grain on top.
std::string SmoothPicture() {
    std::string picture(kPictureBytes, '\0');
    unsigned grain = 12345;
    for (int y = 0; y < kPictureSide; ++y) {
        for (int x = 0; x < kPictureSide; ++x) {
            grain = grain * 1103515245u + 12345u;
            const int noise = static_cast<int>((grain >> 16) % 5) - 2;
            unsigned char* pixel =
                reinterpret_cast<unsigned char*>(&picture[(y * kPictureSide + x) * 3]);
            pixel[0] = static_cast<unsigned char>(30 + x + noise);
            pixel[1] = static_cast<unsigned char>(60 + y + noise);
            pixel[2] = static_cast<unsigned char>(90 + (x + y) / 2 + noise);
        }
    }
    return picture;
}

std::string Commands(int offset) {
    const std::string n = std::to_string(offset);
    return "  make run FERROCASK_KEY_OFFSET=" + n +
           "\nor configure CMake with -DFERROCASK_KEY_OFFSET=" + n + "\n";
}

class KeyOffsetToolTest : public ::testing::Test {
protected:
    // A vault file as a build with the given offset writes it: the picture and, when there
    // are names, one entry for each.
    std::string Vault(const std::string& password, int offset,
                      const std::vector<std::string>& names) {
        const auto encrypted = [&](std::string bytes) {
            EXPECT_TRUE(EncryptVaultBuffer(password, reinterpret_cast<unsigned char*>(bytes.data()),
                                           static_cast<int>(bytes.size()),
                                           static_cast<unsigned char>(offset)));
            return bytes;
        };
        Records records{{"main", encrypted(SmoothPicture())}};
        std::string entries;
        for (const std::string& name : names) {
            const PasswordEntry entry = MakePasswordEntry(name, "pw-" + name);
            entries.append(reinterpret_cast<const char*>(&entry), sizeof entry);
        }
        if (!names.empty()) {
            records["pass"] = encrypted(entries);
        }
        const std::string path = dir.File("vault" + std::to_string(++made) + ".db");
        vaulttest::WriteRecords(path, records);
        return path;
    }

    testsupport::TempDir dir;
    int made = 0;
};

// The run ended with exitCode and its output says each of `said` and none of `unsaid`.
void ExpectRun(const ToolRun& run, int exitCode, const std::vector<std::string>& said,
               const std::vector<std::string>& unsaid = {}) {
    EXPECT_EQ(run.exitCode, exitCode) << run.output;
    for (const std::string& text : said) {
        EXPECT_NE(run.output.find(text), std::string::npos) << text << " not in:\n" << run.output;
    }
    for (const std::string& text : unsaid) {
        EXPECT_EQ(run.output.find(text), std::string::npos) << text << " in:\n" << run.output;
    }
}

TEST_F(KeyOffsetToolTest, FindsEveryOffsetByTheEntriesAndByThePicture) {
    for (const std::string& password : {kEight, kFifteen}) {
        for (int offset : kOffsets) {
            SCOPED_TRACE(password + " at offset " + std::to_string(offset));
            ExpectRun(RunTool(Vault(password, offset, {"mail", "bank"}), password), 0,
                      {Commands(offset)});
            ExpectRun(RunTool(Vault(password, offset, {}), password), 0,
                      {Commands(offset), "how sure: certain"});
        }
    }
}

// A wrong password, one byte off or the right one with another's length, fits no offset; a
// too short one is refused; at 16 bytes and more the offset plays no part.
TEST_F(KeyOffsetToolTest, AWrongPasswordFitsNoOffset) {
    for (const std::vector<std::string>& names : {std::vector<std::string>{"mail"}, {}}) {
        for (const std::string& wrong : {std::string("abcd1235"), kEight + "5"}) {
            SCOPED_TRACE(wrong + " with " + std::to_string(names.size()) + " entries");
            ExpectRun(RunTool(Vault(kEight, 200, names), wrong), 1, {"No offset fits"},
                      {"make run"});
        }
    }
    ExpectRun(RunTool(Vault(kEight, 200, {"mail"}), "abcd123"), 1, {"refuses"});

    const std::string sixteen = Vault(kSixteen, 200, {"mail"});
    for (const std::string& password : {kSixteen, kSixteen + "-and-more"}) {
        ExpectRun(RunTool(sixteen, password), 0, {"offset plays no part", "opens the vault"},
                  {"make run"});
    }
    ExpectRun(RunTool(sixteen, "Sixteen-bytes-pw"), 1, {"does not open the vault"});
    ExpectRun(RunTool(Vault(kSixteen, 200, {}), kSixteen), 0, {"cannot be checked"});
}

// Exit code 2 for a wrong command line, a file that is no vault, and no password at all.
TEST_F(KeyOffsetToolTest, RefusesWhatIsNoVaultOrNoPassword) {
    testsupport::WriteFile(dir.File("text.db"), std::string(8192, 'x'));
    vaulttest::WriteRecords(dir.File("other.db"), {{"pass", std::string(192, 'p')}});
    const std::string vault = Vault(kEight, 0, {"mail"});
    EXPECT_EQ(RunTool(std::vector<std::string>{}, kEight + "\n").exitCode, 2);
    EXPECT_EQ(RunTool({vault, vault}, kEight + "\n").exitCode, 2);
    EXPECT_EQ(RunTool(dir.File("missing.db"), kEight).exitCode, 2);
    EXPECT_EQ(RunTool(dir.File("text.db"), kEight).exitCode, 2);   // no database
    EXPECT_EQ(RunTool(dir.File("other.db"), kEight).exitCode, 2);  // no picture
    EXPECT_EQ(RunTool(std::vector<std::string>{vault}, "").exitCode, 2);
}

// A vault made by this build's own store, without and with entries, gives this build's
// offset, and the tool leaves the file byte for byte as it was. The program folder stands for
// the vault file in it; a CR LF line end is no part of the password.
TEST_F(KeyOffsetToolTest, AVaultOfThisBuildGivesItsOwnOffsetAndStaysUntouched) {
    vaulttest::OpenDevice();
    VaultStore store;
    const std::string smooth = SmoothPicture(), directory = dir.Path() + "/";
    Ombrix::Data<unsigned char> picture;
    picture.Append(reinterpret_cast<const unsigned char*>(smooth.data()), kPictureBytes);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kFifteen, std::nullopt));
    for (bool withEntries : {false, true}) {
        SCOPED_TRACE(withEntries ? "with entries" : "without entries");
        if (withEntries) {
            ASSERT_TRUE(store.AddEntry(directory, kFifteen, MakePasswordEntry("mail", "pw")));
        }
        vaulttest::CloseDevice();
        const std::string before = testsupport::ReadFile(VaultFilePath(directory));
        ExpectRun(RunTool(std::vector<std::string>{dir.Path()}, kFifteen + "\r\n"), 0,
                  {Commands(kVaultKeyOffset), "reads the vault as it is"});
        EXPECT_EQ(testsupport::ReadFile(VaultFilePath(directory)), before);
        vaulttest::OpenDevice();
    }
    vaulttest::CloseDevice();
}

}  // namespace
