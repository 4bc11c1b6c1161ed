// The framework's device for Berkeley DB files. A circuit's address is a database file path;
// the device opens each path once, keeps the handle for the rest of the run (or until it is
// told to forget it, see Close) and hands out a fresh circuit on that shared handle for
// every request. A circuit runs one keyed request
// per Write (put, delete, read, append, sync); callers that need more take the handle from
// the circuit and work on it directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <db_cxx.h>

#include "framework/Base.h"
#include "framework/Data.h"
#include "framework/Device.h"

namespace Ombrix {

// What a database circuit's Write does with its request.
enum DbOp : std::int32_t {
    kDbPut = 0,           // store key -> value, overwriting
    kDbDelete = 1,        // delete the key's record, if any
    kDbPutOrReplace = 2,  // insert, or replace the value of an existing key
    kDbRead = 3,          // read the key's value into the request's value
    kDbAppend = 4,        // insert, or append the value to the end of the existing one
    kDbUnused = 5,        // refused
    kDbSync = 6,          // flush the database to its file
};

// The record a database circuit's Write takes. The length passed to Write must be its size.
struct DbRequest {
    std::int32_t op = kDbUnused;
    Data<unsigned char> key;
    Data<unsigned char> value;  // the bytes to write, or the buffer that receives a read
};

// One open database handle, closed by its last holder unless it was closed before. A handle
// must be closed even after a failed open; the result does not matter then.
class DbHandle {
public:
    DbHandle() : m_db(nullptr, DB_CXX_NO_EXCEPTIONS) {}
    ~DbHandle() { Close(0); }
    DbHandle(const DbHandle&) = delete;
    DbHandle& operator=(const DbHandle&) = delete;

    Db* Get() { return &m_db; }
    // Berkeley DB's result of the close; 0 when it was closed already.
    int Close(u_int32_t flags) {
        if (m_closed) {
            return 0;
        }
        m_closed = true;
        return m_db.close(flags);
    }

private:
    Db m_db;
    bool m_closed = false;
};

class DbDevice : public CountedLockedBase,
                 public DevInterface,
                 private Loki::ObjectLevelLockable<DbDevice, Loki::Mutex> {
    using DeviceLock = Loki::ObjectLevelLockable<DbDevice, Loki::Mutex>;

public:
    DbDevice() = default;
    ~DbDevice() override;

    // Closes and forgets every open database. Only while no circuit of this device is in use.
    virtual void CloseAll();

    // Forgets the database at address, so that the next circuit on it opens the file afresh
    // (after the file was replaced, or to let go of a scratch file). The handle is closed at
    // once when no circuit holds it (without writeBack, changes still in its cache are
    // dropped rather than written); circuits still holding it keep a working handle on the
    // file they were made for, which is closed when the last of them goes. 0 when it was
    // open and is closed cleanly (or left to its circuits); 1 when it was not open or the
    // close failed.
    int Close(const std::string& address, bool writeBack);

    // A circuit on the database at address (a file path), opening the file on first use:
    // read-only for mode 1, else read-write and created if missing. The first opening of a
    // path decides its mode. Null and *error = 1 when the file cannot be opened.
    std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode, int* error,
                                                    const ACE_Time_Value* timeout) override;

    // Whether a temporary file left by a creation cut short ("__db." and the file's name) may
    // be removed when the file itself is missing. Only a program that holds its folder's
    // one-copy lock may say so: otherwise the file may be another copy's, being made right
    // then, and an open that meets one is refused. Off unless set.
    void SetRemovesStaleCreations(bool removes) { m_removesStaleCreations = removes; }

    // The cache size in bytes that a database at this address is opened with.
    static u_int32_t CacheBytesFor(const std::string& address);

private:
    // Each handle is shared with the circuits made on it, so that forgetting it (Close)
    // never pulls it from under a circuit still in use.
    std::map<std::string, std::shared_ptr<DbHandle>> m_databases;
    std::atomic<bool> m_removesStaleCreations{false};
};

class DbCircuit : public CountedLockedBase, public CircuitInterface {
public:
    DbCircuit(std::shared_ptr<DbHandle> handle, DbDevice* device);

    // Runs the DbRequest that buffer points to; length must be sizeof(DbRequest). 0 when
    // done, 1 when refused or failed.
    int Write(void* buffer, int length, const ACE_Time_Value* timeout) override;

    // The device's shared handle; it stays open after the circuit is gone.
    // Numbered requests (Write) serve callers that hold only the generic circuit; the vault
    // takes the handle itself because a request answers only 0 or 1, and the vault must
    // tell a missing record from a read that failed.
    Db* GetDb() const { return m_pDb; }

private:
    int Put(DbRequest& request);
    int Delete(DbRequest& request);
    int PutOrChange(DbRequest& request, bool append);
    int ReadValue(DbRequest& request);

    std::shared_ptr<DbHandle> m_handle;  // keeps the handle open while the circuit lives
    Db* m_pDb;
    DeviceShare m_deviceShare;  // keeps the device, and so the handle, alive
};

}  // namespace Ombrix
