// The key offset tool, run as a program on vaults made under other builds' offsets.

#include <sys/wait.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "vault/VaultTestSupport.h"

namespace {

using vaulttest::Records;

const std::string kEight = "abcd1234";
const std::string kFifteen = "fifteen-bytes!!";
const std::string kSixteen = "sixteen-bytes-pw";
const int kOffsets[] = {0, 61, 200, 255};

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and, after it, standard error
};

// Runs the tool with args and input as its standard input (a pipe, so no terminal).
ToolRun RunTool(const std::vector<std::string>& args, const std::string& input) {
    testsupport::TempDir scratch;
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    EXPECT_EQ(::write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(ends[1]);
    const int savedStdin = ::dup(STDIN_FILENO);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    std::vector<std::string> argv{KEYOFFSET_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ChildProcess tool(argv, scratch.File("stderr"));
    ::dup2(savedStdin, STDIN_FILENO);
    ::close(savedStdin);

    const int status = tool.Wait();
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const std::string& line : tool.RemainingLines()) {
        run.output += line + "\n";
    }
    run.output += testsupport::ReadFile(scratch.File("stderr"));
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

std::string Encrypted(std::string bytes, const std::string& password, int offset) {
    EXPECT_TRUE(EncryptVaultBuffer(password, reinterpret_cast<unsigned char*>(bytes.data()),
                                   static_cast<int>(bytes.size()),
                                   static_cast<unsigned char>(offset)));
    return bytes;
}

// A vault file as a build with the given offset writes it: the picture and, when there are
// names, one entry for each.
void MakeVaultAt(const std::string& path, const std::string& password, int offset,
                 const std::vector<std::string>& names) {
    Records records{{"main", Encrypted(SmoothPicture(), password, offset)}};
    if (!names.empty()) {
        std::string entries;
        for (const std::string& name : names) {
            const PasswordEntry entry = MakePasswordEntry(name, "pw-" + name);
            entries.append(reinterpret_cast<const char*>(&entry), sizeof entry);
        }
        records["pass"] = Encrypted(entries, password, offset);
    }
    vaulttest::WriteRecords(path, records);
}

std::string Commands(int offset) {
    const std::string n = std::to_string(offset);
    return "  make run FERROCASK_KEY_OFFSET=" + n +
           "\nor configure CMake with -DFERROCASK_KEY_OFFSET=" + n + "\n";
}

class KeyOffsetToolTest : public ::testing::Test {
protected:
    std::string Vault(const std::string& password, int offset,
                      const std::vector<std::string>& names) {
        const std::string path = dir.File("vault" + std::to_string(++made) + ".db");
        MakeVaultAt(path, password, offset, names);
        return path;
    }

    testsupport::TempDir dir;
    int made = 0;
};

TEST_F(KeyOffsetToolTest, FindsEveryOffsetByTheEntriesAndByThePicture) {
    for (const std::string& password : {kEight, kFifteen}) {
        for (int offset : kOffsets) {
            for (bool withEntries : {true, false}) {
                SCOPED_TRACE(password + " at offset " + std::to_string(offset) +
                             (withEntries ? " with entries" : " without entries"));
                const ToolRun run =
                    RunTool(Vault(password, offset,
                                  withEntries ? std::vector<std::string>{"mail", "bank"}
                                              : std::vector<std::string>{}),
                            password);
                EXPECT_EQ(run.exitCode, 0) << run.output;
                EXPECT_NE(run.output.find(Commands(offset)), std::string::npos) << run.output;
                if (!withEntries) {
                    EXPECT_NE(run.output.find("how sure: certain"), std::string::npos)
                        << run.output;
                }
            }
        }
    }
}

TEST_F(KeyOffsetToolTest, AWrongPasswordFitsNoOffset) {
    for (bool withEntries : {true, false}) {
        SCOPED_TRACE(withEntries ? "with entries" : "without entries");
        const std::vector<std::string> names =
            withEntries ? std::vector<std::string>{"mail"} : std::vector<std::string>{};
        // One byte off, and the right password with another's length.
        for (const std::string& wrong : {std::string("abcd1235"), kEight + "5"}) {
            const ToolRun run = RunTool(Vault(kEight, 200, names), wrong);
            EXPECT_EQ(run.exitCode, 1) << run.output;
            EXPECT_NE(run.output.find("No offset fits"), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("make run"), std::string::npos) << run.output;
        }
    }
    const ToolRun tooShort = RunTool(Vault(kEight, 200, {"mail"}), "abcd123");
    EXPECT_EQ(tooShort.exitCode, 1) << tooShort.output;
    EXPECT_NE(tooShort.output.find("refuses"), std::string::npos) << tooShort.output;
}

TEST_F(KeyOffsetToolTest, SixteenBytesAndMoreNeedNoOffset) {
    const std::string withEntries = Vault(kSixteen, 200, {"mail"});
    for (const std::string& password : {kSixteen, kSixteen + "-and-more"}) {
        const ToolRun run = RunTool(withEntries, password);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("offset plays no part"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("opens the vault"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("make run"), std::string::npos) << run.output;
    }
    const ToolRun wrong = RunTool(withEntries, "Sixteen-bytes-pw");
    EXPECT_EQ(wrong.exitCode, 1) << wrong.output;
    EXPECT_NE(wrong.output.find("does not open the vault"), std::string::npos) << wrong.output;

    const ToolRun noEntries = RunTool(Vault(kSixteen, 200, {}), kSixteen);
    EXPECT_EQ(noEntries.exitCode, 0) << noEntries.output;
    EXPECT_NE(noEntries.output.find("cannot be checked"), std::string::npos) << noEntries.output;
}

TEST_F(KeyOffsetToolTest, RefusesWhatIsNoVaultOrNoPassword) {
    const std::string notDatabase = dir.File("text.db");
    testsupport::WriteFile(notDatabase, std::string(8192, 'x'));
    const std::string noPicture = dir.File("other.db");
    vaulttest::WriteRecords(noPicture, {{"pass", std::string(192, 'p')}});
    const std::string vault = Vault(kEight, 0, {"mail"});

    EXPECT_EQ(RunTool(std::vector<std::string>{}, kEight + "\n").exitCode, 2);
    EXPECT_EQ(RunTool({vault, vault}, kEight + "\n").exitCode, 2);
    EXPECT_EQ(RunTool(dir.File("missing.db"), kEight).exitCode, 2);
    EXPECT_EQ(RunTool(notDatabase, kEight).exitCode, 2);
    EXPECT_EQ(RunTool(noPicture, kEight).exitCode, 2);
    EXPECT_EQ(RunTool(std::vector<std::string>{vault}, "").exitCode, 2);
}

// A vault made by this build's own store gives this build's offset, and the tool leaves the
// file byte for byte as it was.
class KeyOffsetToolStoreTest : public vaulttest::VaultTest {};

TEST_F(KeyOffsetToolStoreTest, AVaultOfThisBuildGivesItsOwnOffsetAndStaysUntouched) {
    for (bool withEntries : {true, false}) {
        SCOPED_TRACE(withEntries ? "with entries" : "without entries");
        testsupport::TempDir programDir;
        directory = programDir.Path() + "/";
        const std::string smooth = SmoothPicture();
        Ombrix::Data<unsigned char> picture;
        picture.Append(reinterpret_cast<const unsigned char*>(smooth.data()), kPictureBytes);
        ASSERT_TRUE(store.SetMasterPassword(picture, directory, kFifteen, std::nullopt));
        if (withEntries) {
            ASSERT_TRUE(store.AddEntry(directory, kFifteen, MakePasswordEntry("mail", "pw")));
        }
        RestartDevice();
        const std::string before = testsupport::ReadFile(VaultFile());

        // The program folder stands for the vault file in it; a CR LF line end is no part
        // of the password.
        const ToolRun run = RunTool(std::vector<std::string>{programDir.Path()}, kFifteen + "\r\n");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(Commands(kVaultKeyOffset)), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("reads the vault as it is"), std::string::npos) << run.output;
        EXPECT_EQ(testsupport::ReadFile(VaultFile()), before);
    }
}

}  // namespace
