// The key offset tool, run as a program on vaults made under other builds' offsets.
#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

namespace {
using vaulttest::Strings;

const std::string kEight = "abcd1234", kFifteen = "fifteen-bytes!!", kSixteen = "sixteen-bytes-pw";

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

// Runs the tool with args and input as its standard input (a file, so no terminal).
ToolRun RunTool(Strings args, const std::string& input) {
    testsupport::TempDir scratch;
    testsupport::WriteFile(scratch.File("input"), input);
    args.insert(args.begin(), {"sh", "-c", "in=$1; shift; exec \"$0\" \"$@\" <\"$in\" 2>&1",
                               KEYOFFSET_TOOL, scratch.File("input")});
    ToolRun run;
    run.exitCode = testsupport::RunCommand(args, &run.output);
    return run;
}

// The run ended with exitCode and its output says each text, or does not for "!text".
void ExpectRun(const ToolRun& run, int exitCode, const Strings& texts) {
    EXPECT_EQ(run.exitCode, exitCode) << run.output;
    for (const std::string& text : texts) {
        const bool said = text[0] != '!';
        EXPECT_EQ(run.output.find(text.substr(!said)) != std::string::npos, said)
            << text << " in:\n"
            << run.output;
    }
}

// A picture as a photo scaled down would give: gradients in each channel with some grain.
std::string SmoothPicture() {
    std::string picture(kPictureBytes, '\0');
    unsigned grain = 12345;
    for (int i = 0; i < kPictureSide * kPictureSide; ++i) {
        grain = grain * 1103515245u + 12345u;
        const int x = i % kPictureSide, y = i / kPictureSide,
                  noise = static_cast<int>((grain >> 16) % 5) - 2;
        picture[i * 3] = static_cast<char>(30 + x + noise);
        picture[i * 3 + 1] = static_cast<char>(60 + y + noise);
        picture[i * 3 + 2] = static_cast<char>(90 + (x + y) / 2 + noise);
    }
    return picture;
}

std::string Commands(int offset) {
    return "make run FERROCASK_KEY_OFFSET=" + std::to_string(offset) + "\n";
}

class KeyOffsetToolTest : public vaulttest::VaultTest {
protected:
    // Runs the tool on a vault as a build with that offset writes it, an entry for each name.
    ToolRun Run(const std::string& password, int offset, const Strings& names,
                const std::string& typed) {
        const auto encrypted = [&](std::string bytes) {
            auto* data = reinterpret_cast<unsigned char*>(bytes.data());
            EXPECT_TRUE(EncryptVaultBuffer(password, data, static_cast<int>(bytes.size()), offset));
            return bytes;
        };
        vaulttest::Records records{{"main", encrypted(SmoothPicture())}};
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
        return RunTool({path}, typed + "\n");
    }
    int made = 0;
};

TEST_F(KeyOffsetToolTest, FindsEveryOffsetByTheEntriesAndByThePicture) {
    for (const std::string& password : {kEight, kFifteen}) {
        for (int offset : {0, 61, 200, 255}) {
            SCOPED_TRACE(password + " at offset " + std::to_string(offset));
            ExpectRun(Run(password, offset, {"mail", "bank"}, password), 0, {Commands(offset)});
            ExpectRun(Run(password, offset, {}, password), 0,
                      {Commands(offset), "how sure: certain"});
        }
    }
    // A vault of this build's own store, given by its program folder, with a CR LF line end
    // that is no part of the password: the tool leaves it as it was.
    MakeVault(kFifteen, {"mail"});
    vaulttest::CloseDevice();
    const std::string before = VaultBytes();
    ExpectRun(RunTool({dir.Path()}, kFifteen + "\r\n"), 0,
              {Commands(kVaultKeyOffset), "reads the vault as it is"});
    EXPECT_EQ(VaultBytes(), before);
}

// A wrong password, one byte off or the right one with another's length, fits no offset; a
// too short one is refused; at 16 bytes and more the offset plays no part.
TEST_F(KeyOffsetToolTest, AWrongPasswordFitsNoOffsetAndWhatIsNoVaultIsRefused) {
    for (const Strings& names : {Strings{"mail"}, Strings{}}) {
        for (const std::string& wrong : {std::string("abcd1235"), kEight + "5"}) {
            SCOPED_TRACE(wrong + " with " + std::to_string(names.size()) + " entries");
            ExpectRun(Run(kEight, 200, names, wrong), 1, {"No offset fits", "!make run"});
        }
    }
    ExpectRun(Run(kEight, 200, {"mail"}, "abcd123"), 1, {"refuses"});
    for (const std::string& password : {kSixteen, kSixteen + "-and-more"}) {
        ExpectRun(Run(kSixteen, 200, {"mail"}, password), 0,
                  {"offset plays no part", "opens the vault", "!make run"});
    }
    ExpectRun(Run(kSixteen, 200, {"mail"}, "Sixteen-bytes-pw"), 1, {"does not open the vault"});
    ExpectRun(Run(kSixteen, 200, {}, kSixteen), 0, {"cannot be checked"});
    // Exit code 2: a wrong command line, no vault, no picture, no password.
    testsupport::WriteFile(dir.File("text.db"), std::string(8192, 'x'));
    vaulttest::WriteRecords(dir.File("other.db"), {{"pass", std::string(192, 'p')}});
    ASSERT_EQ(Run(kEight, 0, {"mail"}, kEight).exitCode, 0);
    const std::string vault = dir.File("vault1.db");
    for (const Strings& args : {Strings{}, Strings{vault, vault}, Strings{dir.File("missing.db")},
                                Strings{dir.File("text.db")}, Strings{dir.File("other.db")}}) {
        EXPECT_EQ(RunTool(args, kEight + "\n").exitCode, 2) << args.size();
    }
    EXPECT_EQ(RunTool({vault}, "").exitCode, 2);
}

}  // namespace
