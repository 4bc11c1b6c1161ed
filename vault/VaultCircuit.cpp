#include "vault/VaultCircuit.h"

#include <unistd.h>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"

namespace vaultfile {

VaultCircuit::VaultCircuit(const std::string& path, bool readOnlyFallback) {
    Open(path, 0);
    if (m_pDb == nullptr && readOnlyFallback && ::access(path.c_str(), R_OK) == 0 &&
        ::access(path.c_str(), W_OK) != 0) {
        Open(path, 1);
    }
}

void VaultCircuit::Open(const std::string& path, int mode) {
    m_circuit =
        Ombrix::DeviceManager::Instance().GetCircuit(kDatabaseDevice, path, mode, nullptr, nullptr);
    if (auto* database = dynamic_cast<Ombrix::DbCircuit*>(m_circuit.get())) {
        m_pDb = database->GetDb();
    }
}

}  // namespace vaultfile
