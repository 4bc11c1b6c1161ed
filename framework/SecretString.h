// Text that must not outlive its use: typed passwords, the master password, decrypted
// entries. The bytes always live on the heap (no small-string buffer inside the object that
// could keep a copy), and every buffer is zeroed when it is released, reallocated or cleared.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "framework/WipingAllocator.h"

namespace Ombrix {

class SecretString {
public:
    SecretString() { m_bytes.push_back('\0'); }
    SecretString(std::string_view text) : SecretString() { append(text); }    // NOLINT
    SecretString(const char* text) : SecretString(std::string_view(text)) {}  // NOLINT
    SecretString(const SecretString& other) : SecretString(other.view()) {}
    SecretString& operator=(const SecretString& other) {
        if (this != &other) {
            assign(other.view());
        }
        return *this;
    }
    SecretString(SecretString&& other) noexcept : m_bytes(std::move(other.m_bytes)) {
        other.m_bytes.push_back('\0');
    }
    SecretString& operator=(SecretString&& other) noexcept {
        if (this != &other) {
            clear();
            m_bytes.swap(other.m_bytes);
        }
        return *this;
    }
    ~SecretString() { clear(); }

    void assign(std::string_view text) {
        clear();
        append(text);
    }
    void append(std::string_view text) {
        m_bytes.pop_back();
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        m_bytes.push_back('\0');
    }
    void push_back(char c) {
        m_bytes.back() = c;
        m_bytes.push_back('\0');
    }
    SecretString& operator+=(std::string_view text) {
        append(text);
        return *this;
    }
    SecretString& operator+=(char c) {
        push_back(c);
        return *this;
    }

    // Zeroes the content and empties the text; the allocation is kept.
    void clear() noexcept {
        SecureWipe(m_bytes.data(), m_bytes.capacity());
        if (!m_bytes.empty()) {
            m_bytes.resize(1);
        }
    }

    std::size_t size() const { return m_bytes.empty() ? 0 : m_bytes.size() - 1; }
    bool empty() const { return size() == 0; }
    const char* data() const { return m_bytes.data(); }
    const char* c_str() const { return m_bytes.data(); }
    std::string_view view() const { return std::string_view(m_bytes.data(), size()); }
    operator std::string_view() const { return view(); }  // NOLINT

    friend bool operator==(const SecretString& a, const SecretString& b) {
        return a.view() == b.view();
    }
    friend bool operator!=(const SecretString& a, const SecretString& b) { return !(a == b); }

private:
    std::vector<char, WipingAllocator<char>> m_bytes;  // the text, then one zero byte
};

}  // namespace Ombrix
