// The endless, repeatable run of vault operations that the fault-injection helper performs
// and that its test replays on paper: operation n (counted from 1) depends only on n, so the
// content the vault must hold after any operation can be computed without the vault.
//
// The run goes in cycles of 120 operations from an empty list: 50 additions (the list grows
// from the leaf page into one and then two overflow pages of the database), 20 changes of
// a password, then 50 deletions that empty the list again.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "vault/VaultTestSupport.h"

namespace faultmodel {

constexpr char kMasterPassword[] = "fault-run-7";
constexpr char kNewMasterPassword[] = "fault-new-8";
constexpr int kCycle = 120;
constexpr int kAdditions = 50;
constexpr int kChanges = 20;

// The entries as "name=password" in stored order, as vaulttest::Entries reads them.
using ModelList = std::vector<std::string>;

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
    const auto nameAt = [&before](std::size_t i) {
        const std::string& entry = before[i % before.size()];
        return entry.substr(0, entry.find('='));
    };
    if (phase < kAdditions + kChanges) {
        return {Operation::kModify, nameAt(n * 7u), password};
    }
    return {Operation::kDelete, nameAt(n * 13u), ""};
}

// The list after operations 1 to n (n = 0: before the first).
inline ModelList StateAfter(int n) {
    ModelList list;
    for (int done = n - n % kCycle; done < n; ++done) {
        const Operation op = OperationAt(done + 1, list);
        const auto named = std::find_if(list.begin(), list.end(), [&op](const std::string& e) {
            return e.rfind(op.name + "=", 0) == 0;
        });
        if (op.kind == Operation::kAdd) {
            list.push_back(op.name + "=" + op.password);
        } else if (op.kind == Operation::kModify) {
            *named = op.name + "=" + op.password;
        } else {
            list.erase(named);
        }
    }
    return list;
}

// Runs operation n, on a vault that holds the state after n - 1, through the vault store.
inline void RunOperation(int n, VaultStore& store, const std::string& directory) {
    const Operation op = OperationAt(n, StateAfter(n - 1));
    const PasswordEntry entry = MakePasswordEntry(op.name, op.password);
    if (op.kind == Operation::kAdd) {
        store.AddEntry(directory, kMasterPassword, entry);
    } else if (op.kind == Operation::kModify) {
        store.ModifyEntry(directory, kMasterPassword, entry);
    } else {
        store.DeleteEntry(directory, kMasterPassword, entry);
    }
}

}  // namespace faultmodel
