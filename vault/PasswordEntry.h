// One named password as the vault stores it: three zero-padded 64-byte text fields.
// Texts are byte strings (GB18030 from the user interface); the vault never converts them.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

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
