// The endless, repeatable run of vault operations that the fault-injection helper performs
// and that its test replays on paper: operation n (counted from 1) depends only on n, so the
// content the vault must hold after any operation can be computed without the vault.
//
// The run goes in cycles of 120 operations from an empty list: 50 additions (the list grows
// from the leaf page into one and then two overflow pages of the database), 20 changes of
// a password, then 50 deletions that empty the list again.
#pragma once

#include <string>
#include <vector>

#include "framework/Data.h"
#include "vault/VaultStore.h"

namespace faultmodel {

constexpr char kMasterPassword[] = "fault-run-7";
constexpr char kNewMasterPassword[] = "fault-new-8";
constexpr int kCycle = 120;
constexpr int kAdditions = 50;
constexpr int kChanges = 20;

struct ModelEntry {
    std::string name;
    std::string password;
    bool operator==(const ModelEntry& other) const {
        return name == other.name && password == other.password;
    }
};
using ModelList = std::vector<ModelEntry>;

struct Operation {
    enum Kind { kAdd, kModify, kDelete } kind;
    std::string name;
    std::string password;
};

// What operation n does to a list that holds `before`.
inline Operation OperationAt(int n, const ModelList& before) {
    const int phase = (n - 1) % kCycle;
    const std::string password = "pw-" + std::to_string(n);
    if (phase < kAdditions) {
        return {Operation::kAdd, "entry-" + std::to_string(phase), password};
    }
    const std::size_t size = before.size();
    if (phase < kAdditions + kChanges) {
        return {Operation::kModify, before[(static_cast<std::size_t>(n) * 7) % size].name,
                password};
    }
    return {Operation::kDelete, before[(static_cast<std::size_t>(n) * 13) % size].name, ""};
}

inline void Apply(const Operation& op, ModelList& list) {
    auto named = [&list](const std::string& name) {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->name == name) {
                return it;
            }
        }
        return list.end();
    };
    switch (op.kind) {
        case Operation::kAdd:
            list.push_back({op.name, op.password});
            break;
        case Operation::kModify:
            named(op.name)->password = op.password;
            break;
        case Operation::kDelete:
            list.erase(named(op.name));
            break;
    }
}

// The list after operations 1 to n (n = 0: before the first).
inline ModelList StateAfter(int n) {
    ModelList list;
    for (int done = n - n % kCycle; done < n; ++done) {
        Apply(OperationAt(done + 1, list), list);
    }
    return list;
}

// Runs operation n, on a vault that holds the state after n - 1, through the vault store.
inline void RunOperation(int n, VaultStore& store, const std::string& directory) {
    const Operation op = OperationAt(n, StateAfter(n - 1));
    const PasswordEntry entry = MakePasswordEntry(op.name, op.password);
    switch (op.kind) {
        case Operation::kAdd:
            store.AddEntry(directory, kMasterPassword, entry);
            break;
        case Operation::kModify:
            store.ModifyEntry(directory, kMasterPassword, entry);
            break;
        case Operation::kDelete:
            store.DeleteEntry(directory, kMasterPassword, entry);
            break;
    }
}

// The picture the vault of the run is made with (seed 1), or the one a change of the master
// password brings (seed 2).
inline void MakeRunPicture(Ombrix::Data<unsigned char>& picture, int seed = 1) {
    picture.m_nLength = 0;
    picture.Extend(kPictureBytes);
    for (int i = 0; i < kPictureBytes; ++i) {
        picture.m_pBuffer[i] = static_cast<unsigned char>(i * 13 * seed + i / 512);
    }
}

}  // namespace faultmodel
