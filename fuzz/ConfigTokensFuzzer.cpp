// The configuration parser on arbitrary text: it must pair exactly the white-space separated
// words of the text, in order, whatever bytes they hold.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/Config.h"

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (!IsSeparator(c)) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    std::vector<std::pair<std::string, std::string>> pairs;
    Ombrix::ReadConfigTokens(in, [&pairs](const std::string& key, const std::string& value) {
        pairs.emplace_back(key, value);
    });
    const std::vector<std::string> words = Words(text);
    if (pairs.size() != words.size() / 2) {
        std::abort();
    }
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (pairs[i].first != words[2 * i] || pairs[i].second != words[2 * i + 1]) {
            std::abort();
        }
    }
    return 0;
}
