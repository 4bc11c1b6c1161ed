#include "framework/DbDevice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <iostream>

#include "framework/DbCursor.h"
#include "framework/Log.h"

namespace Ombrix {

namespace {

constexpr u_int32_t kPageSize = 8192;
constexpr int kFileMode = 0664;

bool Contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

void LogError(const char* message) {
    Log::Instance().Error(message);
}

// Berkeley DB makes a new database file under a temporary name ("__db." and the file's name,
// in the same folder) and renames it once it is complete. While that name exists and the file
// does not, the library takes the file for one that another process is making and waits for
// it, without end. A creation cut short (a full disk, a killed process) leaves the temporary
// file behind, and every later open of the path would hang. A program that holds the one-copy
// lock of its folder knows that no other copy is making the file, so a leftover found while
// the file itself is missing is stale, and it removes it. Without that knowledge the leftover
// is left alone and the open is refused rather than left waiting. False when the open must
// not be tried.
bool ClearStaleCreation(const std::string& path, bool mayRemove) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 || errno != ENOENT) {
        return true;
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string temporary = path.substr(0, nameStart) + "__db." + path.substr(nameStart);
    if (mayRemove) {
        ::unlink(temporary.c_str());
        return true;
    }
    return ::lstat(temporary.c_str(), &info) != 0;
}

}  // namespace

DbDevice::~DbDevice() {
    CloseAll();
}

void DbDevice::CloseAll() {
    m_databases.clear();
}

int DbDevice::Close(const std::string& address, bool writeBack) {
    std::shared_ptr<DbHandle> closing;
    {
        DeviceLock::Lock guard(*this);
        auto found = m_databases.find(address);
        if (found == m_databases.end()) {
            return kRefused;
        }
        closing = std::move(found->second);
        m_databases.erase(found);
    }
    if (closing.use_count() > 1) {
        return kOk;  // the last circuit on it closes it
    }
    return closing->Close(writeBack ? 0 : DB_NOSYNC) == 0 ? kOk : kRefused;
}

// The framework's callers name their big databases with these words; ferrocask.db matches none
// (unless a word is in its folder's path) and gets 2 MB.
u_int32_t DbDevice::CacheBytesFor(const std::string& address) {
    const bool big = Contains(address, "zi.db");
    if (Contains(address, "face")) {
        return big ? 0x9600000 : 0x4000000;
    }
    if (Contains(address, "friend")) {
        return big ? 0x20000000 : 0xA000000;
    }
    if (Contains(address, "shangpin")) {
        return big ? 0x20000000 : 0x200000;
    }
    return 0x200000;
}

std::unique_ptr<CircuitInterface> DbDevice::CreateCircuit(std::string address, int mode, int* error,
                                                          const ACE_Time_Value*) {
    DeviceLock::Lock guard(*this);
    std::shared_ptr<DbHandle> handle;
    auto found = m_databases.find(address);
    if (found != m_databases.end()) {
        handle = found->second;
    } else {
        auto opened = std::make_shared<DbHandle>();
        Db* db = opened->Get();
        db->set_error_stream(&std::cerr);
        db->set_errpfx("ombrix");
        db->set_pagesize(kPageSize);
        db->set_cachesize(0, CacheBytesFor(address), 0);
        const u_int32_t flags = (mode == 1 ? DB_RDONLY : DB_CREATE) | DB_THREAD;
        const bool mayCreate = mode != 1;
        if ((mayCreate && !ClearStaleCreation(address, m_removesStaleCreations)) ||
            db->open(nullptr, address.c_str(), nullptr, DB_BTREE, flags, kFileMode) != 0) {
            // A creation the disk cut short leaves its temporary file behind; removed now,
            // it does not lie beside the folder's files until the next start.
            opened.reset();
            if (mayCreate) {
                ClearStaleCreation(address, m_removesStaleCreations);
            }
            if (error != nullptr) {
                *error = kRefused;
            }
            return nullptr;
        }
        handle = opened;
        m_databases.emplace(std::move(address), std::move(opened));
    }
    if (error != nullptr) {
        *error = kOk;
    }
    return std::make_unique<DbCircuit>(std::move(handle), this);
}

DbCircuit::DbCircuit(std::shared_ptr<DbHandle> handle, DbDevice* device)
    : m_handle(std::move(handle)),
      m_pDb(m_handle ? m_handle->Get() : nullptr),
      m_deviceShare(device) {}

int DbCircuit::Write(void* buffer, int length, const ACE_Time_Value*) {
    if (buffer == nullptr || length != static_cast<int>(sizeof(DbRequest)) || m_pDb == nullptr) {
        return kRefused;
    }
    DbRequest& request = *static_cast<DbRequest*>(buffer);
    switch (request.op) {
        case kDbPut:
            return Put(request);
        case kDbDelete:
            return Delete(request);
        case kDbPutOrReplace:
            return PutOrChange(request, false);
        case kDbRead:
            return ReadValue(request);
        case kDbAppend:
            return PutOrChange(request, true);
        case kDbSync:
            return m_pDb->sync(0) == 0 ? kOk : kRefused;
        default:
            return kRefused;
    }
}

int DbCircuit::Put(DbRequest& request) {
    Dbt key(request.key.m_pBuffer, request.key.m_nLength);
    Dbt value(request.value.m_pBuffer, request.value.m_nLength);
    if (m_pDb->put(nullptr, &key, &value, 0) != 0) {
        LogError("DbCircuit::Write m_pDb->put error!");
        return kRefused;
    }
    return kOk;
}

int DbCircuit::Delete(DbRequest& request) {
    DbCursor cursor(m_pDb);
    if (!cursor.Valid()) {
        return kRefused;
    }
    if (cursor.Seek(request.key.m_pBuffer, request.key.m_nLength) == DB_NOTFOUND) {
        return kOk;
    }
    return cursor.DeleteCurrent() == 0 ? kOk : kRefused;
}

int DbCircuit::PutOrChange(DbRequest& request, bool append) {
    DbCursor cursor(m_pDb);
    if (!cursor.Valid()) {
        return kRefused;
    }
    const Data<unsigned char>& key = request.key;
    const Data<unsigned char>& value = request.value;
    if (cursor.Seek(key.m_pBuffer, key.m_nLength) == DB_NOTFOUND) {
        if (DbInsertNew(m_pDb, key.m_pBuffer, key.m_nLength, value.m_pBuffer, value.m_nLength) !=
            0) {
            LogError("DbCircuit::Write m_pDb->put error!");
            return kRefused;
        }
        return kOk;
    }
    int result = 0;
    if (append) {
        u_int32_t existing = 0;
        result = cursor.CurrentLength(&existing);
        if (result == 0) {
            result = cursor.PutCurrentPart(value.m_pBuffer, value.m_nLength, existing);
        }
    } else {
        result = cursor.PutCurrent(value.m_pBuffer, value.m_nLength);
    }
    if (result != 0) {
        LogError("DbCircuit::Write cursor->put error!");
        return kRefused;
    }
    return kOk;
}

int DbCircuit::ReadValue(DbRequest& request) {
    Data<unsigned char>& value = request.value;
    value.m_nLength = 0;
    DbCursor cursor(m_pDb);
    if (!cursor.Valid() || cursor.Seek(request.key.m_pBuffer, request.key.m_nLength) != 0) {
        return kRefused;
    }
    u_int32_t length = 0;
    if (cursor.CurrentLength(&length) != 0 || length > static_cast<u_int32_t>(INT_MAX)) {
        return kRefused;
    }
    value.Extend(static_cast<int>(length));
    if (cursor.ReadCurrent(value.m_pBuffer, length) != 0) {
        // Never hand back bytes that were not read.
        value.m_nLength = 0;
        return kRefused;
    }
    return kOk;
}

}  // namespace Ombrix
