#include "framework/Config.h"

#include <iostream>
#include <locale>
#include <memory>
#include <mutex>

#include "framework/SingletonAccess.h"

namespace Ombrix {

namespace {

// The file name lives apart from the store so that it can be set before the store exists.
struct ConfigFileName {
    std::mutex lock;
    std::string name = "config_ombrix.txt";
};

ConfigFileName& FileNameSlot() {
    static ConfigFileName slot;
    return slot;
}

using ConfigHolder = Loki::SingletonHolder<Config, Loki::CreateUsingNew, Loki::DefaultLifetime,
                                           Loki::ClassLevelLockable, Loki::Mutex>;

}  // namespace

void ReadConfigTokens(
    std::istream& in,
    const std::function<void(const std::string& key, const std::string& value)>& store) {
    // Tokens are separated by the classic locale's white space, whatever the user's locale.
    in.imbue(std::locale::classic());
    std::string key;
    std::string token;
    bool haveKey = false;
    while (in >> token) {
        if (!haveKey) {
            key = token;
            haveKey = true;
        } else {
            store(key, token);
            haveKey = false;
        }
    }
}

void Config::SetFileName(const std::string& fileName) {
    ConfigFileName& slot = FileNameSlot();
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.name = fileName;
}

std::string Config::FileName() {
    ConfigFileName& slot = FileNameSlot();
    std::lock_guard<std::mutex> guard(slot.lock);
    return slot.name;
}

Config& Config::Instance() {
    return SingletonInstance<ConfigHolder>();
}

Config::Config() : m_fileName(FileName()) {
    m_file.open(m_fileName);
    if (!m_file.is_open()) {
        std::cout << "Config::Config(), fopen error!" << std::endl;
        return;
    }
    ReadConfigTokens(
        m_file, [this](const std::string& key, const std::string& value) { SetValue(key, value); });
    m_file.close();
}

Config::~Config() = default;

std::string Config::GetValue(const std::string& key) {
    // The copy is made under the lock, so a concurrent SetValue cannot free it mid-copy.
    std::string value;
    VisitLocked(key, [&value](const std::string* stored) {
        if (stored != nullptr) {
            value = *stored;
        }
    });
    return value;
}

int Config::SetValue(const std::string& key, const std::string& value) {
    return Set(key, std::make_unique<std::string>(value));
}

}  // namespace Ombrix
