// A circuit of the database device on one file, for the length of one vault operation: the
// store's reads and the change made in a copy of the vault file both work through it. The
// database handle itself stays open in the device after the circuit is gone.
#pragma once

#include <memory>
#include <string>

#include <db_cxx.h>

#include "framework/Device.h"

namespace vaultfile {

inline constexpr char kDatabaseDevice[] = "/device/system/db";
// The vault file's keys are four bytes each, without a terminating zero.
inline constexpr u_int32_t kKeyLength = 4;

class VaultCircuit {
public:
    // A circuit on the file at path, for reading and writing, created if missing. With
    // readOnlyFallback, a file this process may read but not write (a read-only folder or
    // file) is opened read-only instead, so that it can still be read.
    VaultCircuit(const std::string& path, bool readOnlyFallback);

    bool IsOpen() const { return m_pDb != nullptr; }
    Db* GetDb() const { return m_pDb; }

private:
    void Open(const std::string& path, int mode);

    std::unique_ptr<Ombrix::CircuitInterface> m_circuit;
    Db* m_pDb = nullptr;
};

}  // namespace vaultfile
