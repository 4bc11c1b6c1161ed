#include "framework/DbCursor.h"

namespace Ombrix {

namespace {

// A record description over caller memory. Berkeley DB never writes through the pointer of
// a key or of a value being stored, so dropping const is safe there.
Dbt UserDbt(const void* data, u_int32_t length) {
    Dbt dbt(const_cast<void*>(data), length);
    dbt.set_ulen(length);
    dbt.set_flags(DB_DBT_USERMEM);
    return dbt;
}

}  // namespace

DbCursor::DbCursor(Db* db) {
    Dbc* cursor = nullptr;
    if (db != nullptr && db->cursor(nullptr, &cursor, 0) == 0) {
        m_pCursor = cursor;
    }
}

void DbCursor::Close() {
    if (m_pCursor != nullptr) {
        m_pCursor->close();
        m_pCursor = nullptr;
    }
}

int DbCursor::Seek(const void* key, u_int32_t keyLength) {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    Dbt keyDbt = UserDbt(key, keyLength);
    // A zero-length partial read positions the cursor without copying the value.
    Dbt value;
    value.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
    value.set_doff(0);
    value.set_dlen(0);
    value.set_ulen(0);
    return m_pCursor->get(&keyDbt, &value, DB_SET);
}

int DbCursor::CurrentLength(u_int32_t* length) {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    Dbt key;
    key.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
    Dbt value;
    value.set_flags(DB_DBT_USERMEM);
    value.set_ulen(0);
    // With no room offered, the library reports the value's length and copies nothing.
    const int result = m_pCursor->get(&key, &value, DB_CURRENT);
    if (result != 0 && result != DB_BUFFER_SMALL) {
        return result;
    }
    *length = value.get_size();
    return 0;
}

int DbCursor::ReadCurrent(void* buffer, u_int32_t length) {
    return Read(buffer, length, false);
}

int DbCursor::ReadCurrentStart(void* buffer, u_int32_t length) {
    return Read(buffer, length, true);
}

// The library copies a value stored on a chain of overflow pages page by page, from its
// start, and reports the length asked for even when a damaged chain ends early: the rest of
// the buffer is then left as it was, and the read looks whole. So the last byte is marked
// before the read. Changed, it was copied, and so was everything before it. Left as marked,
// either the chain ended early or the value ends in the mark itself, which a second read with
// another mark tells apart; that second read is needed for one value in 256.
int DbCursor::Read(void* buffer, u_int32_t length, bool startOnly) {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    if (buffer == nullptr || length == 0) {
        return ReadOnce(buffer, length, startOnly);
    }
    unsigned char& last = static_cast<unsigned char*>(buffer)[length - 1];
    for (const unsigned char mark : {0x00, 0xFF}) {
        last = mark;
        const int result = ReadOnce(buffer, length, startOnly);
        if (result != 0 || last != mark) {
            return result;
        }
    }
    return DB_VERIFY_BAD;
}

int DbCursor::ReadOnce(void* buffer, u_int32_t length, bool startOnly) {
    Dbt key;
    key.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
    Dbt value = UserDbt(buffer, length);
    if (startOnly) {
        value.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
        value.set_doff(0);
        value.set_dlen(length);
    }
    const int result = m_pCursor->get(&key, &value, DB_CURRENT);
    if (result == 0 && value.get_size() != length) {
        return DB_BUFFER_SMALL;
    }
    return result;
}

int DbCursor::PutCurrent(const void* value, u_int32_t length) {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    Dbt key;
    Dbt data = UserDbt(value, length);
    return m_pCursor->put(&key, &data, DB_CURRENT);
}

int DbCursor::PutCurrentPart(const void* value, u_int32_t length, u_int32_t offset) {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    Dbt key;
    Dbt data = UserDbt(value, length);
    data.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
    data.set_doff(offset);
    data.set_dlen(length);
    return m_pCursor->put(&key, &data, DB_CURRENT);
}

int DbCursor::DeleteCurrent() {
    if (m_pCursor == nullptr) {
        return EINVAL;
    }
    return m_pCursor->del(0);
}

int DbInsertNew(Db* db, const void* key, u_int32_t keyLength, const void* value,
                u_int32_t valueLength) {
    Dbt keyDbt = UserDbt(key, keyLength);
    Dbt data = UserDbt(value, valueLength);
    return db->put(nullptr, &keyDbt, &data, DB_NOOVERWRITE);
}

}  // namespace Ombrix
