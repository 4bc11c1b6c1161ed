// The process-wide table of string settings, read once from a text file of white-space
// separated tokens that alternate between a key path and its value.
#pragma once

#include <fstream>
#include <functional>
#include <istream>
#include <string>

#include <loki/Singleton.h>

#include "framework/KeyVal.h"

namespace Ombrix {

// Reads the tokens of a configuration text from in, separated by the classic locale's white
// space whatever the stream's locale, and hands them to store in pairs: key path, value. A
// last key without a value is dropped. Used by Config on its file.
void ReadConfigTokens(
    std::istream& in,
    const std::function<void(const std::string& key, const std::string& value)>& store);

class Config : public KeyVal<std::string, std::string, Loki::ObjectLevelLockable> {
public:
    // Names the file that the first Instance() call reads; later calls change nothing read.
    static void SetFileName(const std::string& fileName);
    static std::string FileName();

    // The single store, created (and its file read) on first use. A call after the store
    // was destroyed at process exit throws std::logic_error("Dead Reference Detected").
    static Config& Instance();

    // A copy of the value under key, or "" when the key is absent.
    std::string GetValue(const std::string& key);

    // Stores a copy of value under key, replacing any older value.
    int SetValue(const std::string& key, const std::string& value);

    ~Config() override;

private:
    friend struct Loki::CreateUsingNew<Config>;
    Config();

    std::ifstream m_file;
    std::string m_fileName;
};

}  // namespace Ombrix
