// One named password as the vault stores it: three zero-padded 64-byte text fields.
// Texts are byte strings (GB18030 from the user interface); the vault never converts them.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "framework/LocalTime.h"
#include "framework/WipingAllocator.h"

constexpr std::size_t kEntryFieldSize = 64;
constexpr std::size_t kEntryTextLimit = 62;  // bytes 62 and 63 of a field stay zero
constexpr std::size_t kEntrySize = 3 * kEntryFieldSize;

struct PasswordEntry {
    char name[kEntryFieldSize];
    char kind[kEntryFieldSize];
    char password[kEntryFieldSize];
};
static_assert(sizeof(PasswordEntry) == kEntrySize, "an entry is stored as 192 bytes");

// A list of entries whose storage is wiped when released (it holds decrypted passwords).
using EntryList = std::vector<PasswordEntry, Ombrix::WipingAllocator<PasswordEntry>>;

// The text of a field: its bytes up to the first zero byte, never past the field's end.
std::string_view FieldText(const char (&field)[kEntryFieldSize]);

// Replaces a field by the first 62 bytes at most of text, zero-padded.
void SetFieldText(char (&field)[kEntryFieldSize], std::string_view text);

// An entry with every byte zero, kind "normal", and name and password cut to 62 bytes.
PasswordEntry MakePasswordEntry(std::string_view name, std::string_view password);

// Zeroes an entry in a way the compiler may not drop.
void WipeEntry(PasswordEntry& entry);

// Whether the text of a field that starts at field (kEntryFieldSize bytes) is text, itself
// taken up to its first zero byte. Compared in place: the field's end is never looked for.
// The text is cut once, for comparing with the fields of a whole list; the byte after it in
// the field and its first eight bytes are looked at before the rest, which turns most other
// names away without a call.
class FieldTextMatch {
public:
    explicit FieldTextMatch(std::string_view text);

    bool operator()(const char* field) const {
        const std::size_t length = m_text.size();
        if (length > kEntryFieldSize || (length < kEntryFieldSize && field[length] != '\0')) {
            return false;
        }
        if (length >= 8 && std::memcmp(field, m_text.data(), 8) != 0) {
            return false;
        }
        return length == 0 || std::memcmp(field, m_text.data(), length) == 0;
    }

private:
    std::string_view m_text;
};

// Whether the entry's name is exactly name (its bytes up to the first zero byte).
bool HasName(const PasswordEntry& entry, std::string_view name);

// Whether an entry of the list has exactly that name.
bool NameTaken(std::string_view name, const EntryList& entries);

// Cuts each field of entry to 62 bytes and zeroes every byte after its text, as the vault
// stores entries. Done in place, so that no further copy of a password is made.
void NormalizeEntry(PasswordEntry& entry);

// A name for an entry whose wanted name is already taken in entries: the first 47 bytes of
// it, '_' and the moment as YYYYMMDDhhmmss. While that is taken too, the same renaming is
// applied to the result; when it no longer changes anything (names of 47 bytes and more), a
// number is added ("_1", "_2", ...) and the front is cut to keep 62 bytes. Always at most 62
// bytes and not taken.
std::string RenameDuplicate(std::string_view wanted, const EntryList& entries,
                            const Ombrix::LocalTime& when);
