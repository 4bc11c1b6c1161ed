// A cursor on a Berkeley DB handle that closes itself, with the few moves the framework and
// the vault make: an exact lookup of one key, and reading, replacing or deleting the record
// the cursor stands on. Every call reports Berkeley DB's own result (0 on success).
//
// Handles are opened free-threaded, so every record handed back by the library must land in
// memory the caller supplies; these helpers always pass such memory.
#pragma once

#include <db_cxx.h>

namespace Ombrix {

class DbCursor {
public:
    // Opens a cursor (no transaction, flags 0); Valid() tells whether that worked.
    explicit DbCursor(Db* db);
    ~DbCursor() { Close(); }
    DbCursor(const DbCursor&) = delete;
    DbCursor& operator=(const DbCursor&) = delete;

    bool Valid() const { return m_pCursor != nullptr; }
    void Close();

    // Moves onto the record of exactly this key (DB_SET) without copying its value.
    int Seek(const void* key, u_int32_t keyLength);

    // The length of the value at the cursor.
    int CurrentLength(u_int32_t* length);

    // Copies the value at the cursor (exactly length bytes long) into buffer. A value whose
    // pages hold fewer bytes than its stored length gives DB_VERIFY_BAD.
    int ReadCurrent(void* buffer, u_int32_t length);
    // Copies the first length bytes of the value at the cursor (at least that long).
    int ReadCurrentStart(void* buffer, u_int32_t length);

    // Replaces the value at the cursor (DB_CURRENT).
    int PutCurrent(const void* value, u_int32_t length);

    // Writes length bytes at offset into the value at the cursor, replacing as many bytes of
    // it; an offset at the value's end appends.
    int PutCurrentPart(const void* value, u_int32_t length, u_int32_t offset);

    // Deletes the record at the cursor.
    int DeleteCurrent();

private:
    // The value at the cursor, whole (exactly length bytes) or its first length bytes.
    int Read(void* buffer, u_int32_t length, bool startOnly);
    // One read of the library's, as it reports it.
    int ReadOnce(void* buffer, u_int32_t length, bool startOnly);
    Dbc* m_pCursor = nullptr;
};

// Inserts key -> value unless the key exists (DB_NOOVERWRITE), with no transaction.
int DbInsertNew(Db* db, const void* key, u_int32_t keyLength, const void* value,
                u_int32_t valueLength);

}  // namespace Ombrix
