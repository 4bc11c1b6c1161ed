#include "dialogs/VaultDialogHost.h"

#include <utility>

VaultDialogHost::VaultDialogHost(std::string programDirectory)
    : m_vault(std::make_unique<VaultStore>()), m_programDirectory(std::move(programDirectory)) {}

VaultDialogHost::~VaultDialogHost() = default;
