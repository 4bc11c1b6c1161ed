// The program's code run at start-up lies in one stretch ahead of the rest of its code, as
// app/StartUpOrder.ld asks. The list names functions by their symbols: renamed or removed
// functions make it stale, and a build that loses the link option or the per-function
// sections scatters the start-up code again, with megabytes more kept resident.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Range {
    Elf64_Addr begin = 0, end = 0;
};

// The program's ELF file: the address range of each section and of each function symbol.
struct ProgramImage {
    std::map<std::string, Range> sections;
    std::map<std::string, Elf64_Addr> functions;
};

ProgramImage ReadImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ProgramImage image;
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64) {
        return image;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.e_shoff + header.e_shnum * sizeof(Elf64_Shdr) > bytes.size() ||
        header.e_shstrndx >= header.e_shnum) {
        return image;
    }
    std::vector<Elf64_Shdr> headers(header.e_shnum);
    std::memcpy(headers.data(), bytes.data() + header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr));
    const auto within = [&](const Elf64_Shdr& section) {
        return section.sh_offset + section.sh_size <= bytes.size();
    };
    const Elf64_Shdr& names = headers[header.e_shstrndx];
    if (!within(names)) {
        return image;
    }
    for (const Elf64_Shdr& section : headers) {
        if (section.sh_name < names.sh_size) {
            image.sections[bytes.data() + names.sh_offset + section.sh_name] = {
                section.sh_addr, section.sh_addr + section.sh_size};
        }
    }
    for (const Elf64_Shdr& section : headers) {
        if (section.sh_type != SHT_SYMTAB || section.sh_link >= headers.size() ||
            !within(section) || !within(headers[section.sh_link])) {
            continue;
        }
        const Elf64_Shdr& strings = headers[section.sh_link];
        for (size_t at = 0; at + sizeof(Elf64_Sym) <= section.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, bytes.data() + section.sh_offset + at, sizeof symbol);
            if (ELF64_ST_TYPE(symbol.st_info) == STT_FUNC && symbol.st_name < strings.sh_size) {
                image.functions[bytes.data() + strings.sh_offset + symbol.st_name] =
                    symbol.st_value;
            }
        }
    }
    return image;
}

// The functions the order file names one by one.
std::vector<std::string> OrderedFunctions(const std::string& path) {
    std::ifstream in(path);
    const std::regex rule(R"(^\s*\*\(\.text\.(\S+)\)\s*$)");
    std::vector<std::string> functions;
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, rule)) {
            functions.push_back(match[1]);
        }
    }
    return functions;
}

TEST(StartUpLayoutTest, FunctionsRunAtStartUpLieAheadOfTheRestOfTheCode) {
    const ProgramImage image = ReadImage(FERROCASK_PROGRAM);
    ASSERT_FALSE(image.functions.empty()) << "no symbols in " << FERROCASK_PROGRAM;
    ASSERT_EQ(image.sections.count(".text.start_up"), 1u)
        << "the program was linked without " << FERROCASK_START_UP_ORDER;
    const Range startUp = image.sections.at(".text.start_up");
    const Range rest = image.sections.at(".text");
    EXPECT_LT(startUp.end, rest.begin + 1);

    const std::vector<std::string> listed = OrderedFunctions(FERROCASK_START_UP_ORDER);
    ASSERT_GT(listed.size(), 100u);
    std::vector<std::string> elsewhere;
    for (const std::string& function : listed) {
        const auto found = image.functions.find(function);
        if (found == image.functions.end() || found->second < startUp.begin ||
            found->second >= startUp.end) {
            elsewhere.push_back(function);
        }
    }
    // A few may go with a change of compiler (inlined, cloned); more than a tenth means the
    // list no longer describes the program and must be made again (scripts/start-up-order.py).
    std::string some;
    for (size_t i = 0; i < elsewhere.size() && i < 10; ++i) {
        some += "\n  " + elsewhere[i];
    }
    EXPECT_LE(elsewhere.size() * 10, listed.size())
        << elsewhere.size() << " of " << listed.size()
        << " listed functions are not in the start-up code, among them:" << some;
}

// Every file's static set-up runs at every start, ahead of the profile the list is made from.
TEST(StartUpLayoutTest, StaticSetUpLiesInTheStartUpCode) {
    const ProgramImage image = ReadImage(FERROCASK_PROGRAM);
    ASSERT_EQ(image.sections.count(".text.start_up"), 1u);
    const Range startUp = image.sections.at(".text.start_up");
    const std::string prefix = "_GLOBAL__sub_I_", cold = ".cold";
    int setUps = 0;
    for (const auto& [name, address] : image.functions) {
        const bool coldPart = name.size() > cold.size() &&
                              name.compare(name.size() - cold.size(), cold.size(), cold) == 0;
        if (name.rfind(prefix, 0) != 0 || coldPart) {
            continue;
        }
        ++setUps;
        EXPECT_TRUE(address >= startUp.begin && address < startUp.end) << name;
    }
    EXPECT_GT(setUps, 10);
}

}  // namespace
