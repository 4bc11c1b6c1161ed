#include "vault/PasswordEntry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/SecureWipe.h"

namespace {

// The part of a renamed name that is kept from the name it was made from.
constexpr std::size_t kRenameCut = 47;

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

std::string Cut(std::string_view text, std::size_t length) {
    return std::string(text.substr(0, std::min(length, text.size())));
}

}  // namespace

std::string_view FieldText(const char (&field)[kEntryFieldSize]) {
    const void* zero = std::memchr(field, '\0', kEntryFieldSize);
    const std::size_t length =
        zero == nullptr ? kEntryFieldSize : static_cast<const char*>(zero) - field;
    return std::string_view(field, length);
}

void SetFieldText(char (&field)[kEntryFieldSize], std::string_view text) {
    text = UpToZero(text);
    const std::size_t length = std::min(text.size(), kEntryTextLimit);
    // The text may be a view of this very field, so it is moved before the rest is zeroed.
    std::memmove(field, text.data(), length);
    std::memset(field + length, 0, kEntryFieldSize - length);
}

PasswordEntry MakePasswordEntry(std::string_view name, std::string_view password) {
    PasswordEntry entry;
    std::memset(&entry, 0, sizeof entry);
    SetFieldText(entry.name, name);
    SetFieldText(entry.kind, "normal");
    SetFieldText(entry.password, password);
    return entry;
}

void WipeEntry(PasswordEntry& entry) {
    Ombrix::SecureWipe(&entry, sizeof entry);
}

FieldTextMatch::FieldTextMatch(std::string_view text) : m_text(UpToZero(text)) {}

bool HasName(const PasswordEntry& entry, std::string_view name) {
    return FieldTextMatch(name)(entry.name);
}

bool NameTaken(std::string_view name, const EntryList& entries) {
    const FieldTextMatch taken(name);
    return std::any_of(entries.begin(), entries.end(),
                       [&taken](const PasswordEntry& entry) { return taken(entry.name); });
}

void NormalizeEntry(PasswordEntry& entry) {
    SetFieldText(entry.name, FieldText(entry.name));
    SetFieldText(entry.kind, FieldText(entry.kind));
    SetFieldText(entry.password, FieldText(entry.password));
}

std::string RenameDuplicate(std::string_view wanted, const EntryList& entries,
                            const Ombrix::LocalTime& when) {
    char stampText[32];
    std::snprintf(stampText, sizeof stampText, "%04d%02d%02d%02d%02d%02d", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
    const std::string stamp = "_" + std::string(stampText);
    // A stamp is 15 bytes with its '_', so 47 bytes are kept; should a year ever need more
    // digits, less is kept, so that the result still fits its field.
    const std::size_t keep =
        std::min(kRenameCut, kEntryTextLimit - std::min(stamp.size(), kEntryTextLimit));

    std::string candidate = Cut(UpToZero(wanted), kEntryTextLimit);
    if (!NameTaken(candidate, entries)) {
        return candidate;
    }
    // Rename the renamed name again while that still changes it: short names grow by one
    // stamp each time until they reach the cut.
    for (;;) {
        std::string next = Cut(candidate, keep) + stamp;
        if (next == candidate) {
            break;
        }
        candidate = std::move(next);
        if (!NameTaken(candidate, entries)) {
            return candidate;
        }
    }
    // The same moment gives the same name again, so count instead. Every number gives a
    // different name, so one of the first entries.size() + 1 numbers is free.
    for (std::size_t number = 1;; ++number) {
        const std::string suffix = stamp + "_" + std::to_string(number);
        std::string numbered =
            Cut(candidate, kEntryTextLimit - std::min(suffix.size(), kEntryTextLimit)) + suffix;
        if (!NameTaken(numbered, entries)) {
            return numbered;
        }
    }
}
