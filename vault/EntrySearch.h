// The search of a stored entry list, still encrypted, for the first entry of a name. The
// list comes in pieces of any length, so that it never has to lie whole in memory; an entry
// may be split between two pieces. The names are decrypted in batches, which keeps the
// cipher's pipeline full, and only the entry that matches is decrypted whole.
#pragma once

#include <cstddef>
#include <string_view>

#include "vault/PasswordEntry.h"
#include "vault/VaultDecryptor.h"

class EntrySearch {
public:
    // name must outlive the search.
    EntrySearch(const VaultDecryptor& decryptor, std::string_view name);
    ~EntrySearch();
    EntrySearch(const EntrySearch&) = delete;
    EntrySearch& operator=(const EntrySearch&) = delete;

    // The next piece of the list. Once an entry matched, the rest is not looked at.
    void Take(const unsigned char* piece, std::size_t bytes);
    // Forgets every piece taken, for a list that is read again from its start.
    void Restart();
    // Whether an entry matched; if so, out holds it decrypted. A split entry at the end of the
    // list (a damaged tail shorter than an entry) is not one.
    bool Found(PasswordEntry& out);

private:
    static constexpr std::size_t kBatch = 64;
    static constexpr std::size_t kNameBytes = sizeof(PasswordEntry::name);

    // Adds an entry, which must stay where it is until the batch is looked through.
    void Add(const unsigned char* entry);
    void LookThroughBatch();

    const VaultDecryptor& m_decryptor;
    const FieldTextMatch m_wanted;
    const unsigned char* m_batch[kBatch] = {};  // the entries of the batch, encrypted
    std::size_t m_batchSize = 0;
    unsigned char m_names[kBatch * kNameBytes];  // the batch's names, decrypted
    unsigned char m_split[kEntrySize];           // the start of an entry split between pieces
    std::size_t m_splitBytes = 0;
    PasswordEntry m_match{};  // decrypted
    bool m_matched = false;
};
