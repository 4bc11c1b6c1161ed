#include "vault/EntrySearch.h"

#include <algorithm>
#include <cstring>

#include "framework/SecureWipe.h"

EntrySearch::EntrySearch(const VaultDecryptor& decryptor, std::string_view name)
    : m_decryptor(decryptor), m_wanted(name) {}

EntrySearch::~EntrySearch() {
    Restart();
    Ombrix::SecureWipe(m_names, sizeof m_names);
}

void EntrySearch::Take(const unsigned char* piece, std::size_t bytes) {
    if (m_matched || bytes == 0) {
        return;
    }
    std::size_t at = 0;
    if (m_splitBytes > 0) {
        at = std::min(kEntrySize - m_splitBytes, bytes);
        std::memcpy(m_split + m_splitBytes, piece, at);
        m_splitBytes += at;
        if (m_splitBytes < kEntrySize) {
            return;
        }
        Add(m_split);
    }
    for (; at + kEntrySize <= bytes && !m_matched; at += kEntrySize) {
        Add(piece + at);
    }
    // The piece is gone after this call: its entries are looked at now, and an entry it
    // ends within is kept for the next piece.
    LookThroughBatch();
    m_splitBytes = m_matched ? 0 : bytes - at;
    std::memcpy(m_split, piece + at, m_splitBytes);
}

void EntrySearch::Add(const unsigned char* entry) {
    m_batch[m_batchSize++] = entry;
    if (m_batchSize == kBatch) {
        LookThroughBatch();
    }
}

void EntrySearch::LookThroughBatch() {
    if (m_matched) {
        m_batchSize = 0;
        return;
    }
    for (std::size_t i = 0; i < m_batchSize; ++i) {
        std::memcpy(m_names + i * kNameBytes, m_batch[i], kNameBytes);
    }
    m_decryptor.Decrypt(m_names, m_names, m_batchSize * kNameBytes);
    for (std::size_t i = 0; i < m_batchSize; ++i) {
        // Compared in place, so that the names passed over are never measured.
        if (m_wanted(reinterpret_cast<const char*>(m_names + i * kNameBytes))) {
            m_decryptor.Decrypt(m_batch[i], reinterpret_cast<unsigned char*>(&m_match), kEntrySize);
            m_matched = true;
            break;
        }
    }
    m_batchSize = 0;
}

void EntrySearch::Restart() {
    m_batchSize = 0;
    m_splitBytes = 0;
    m_matched = false;
    WipeEntry(m_match);
}

bool EntrySearch::Found(PasswordEntry& out) {
    // Every piece's entries were looked through before Take returned.
    if (m_matched) {
        out = m_match;
    }
    return m_matched;
}
