// A growable byte buffer with public members, shared by the vault, the database requests and
// the picture panels. The buffer may hold secrets (decrypted entries, the picture, keys), so
// every array it lets go of is wiped first: on growth, on Wipe() and on destruction; while
// they live, the arrays are kept out of swap as far as the process may lock memory.
#pragma once

#include <climits>
#include <cstring>
#include <new>

#include "framework/Base.h"
#include "framework/MemoryLock.h"
#include "framework/SecureWipe.h"

namespace Ombrix {

template <class Type, template <class, class> class ThreadingModel = Loki::SingleThreaded>
class Data : public PlainBase, public ThreadingModel<Data<Type, ThreadingModel>, Loki::Mutex> {
public:
    Data() = default;

    explicit Data(int capacity) {
        if (capacity > 0) {
            m_pBuffer = new Type[capacity];
            m_nCapacity = capacity;
            LockMemory(m_pBuffer, sizeof(Type) * capacity);
        }
    }

    ~Data() override { Release(); }

    // Copies n elements from src to the end; nothing for a null source or n <= 0.
    void Append(const Type* src, int n) {
        if (src == nullptr || n <= 0) {
            return;
        }
        const Retired old = Grow(n);
        // src may point into the old array, which is only freed after the copy.
        std::memcpy(m_pBuffer + m_nLength, src, sizeof(Type) * n);
        m_nLength += n;
        Discard(old);
    }

    // Adds n elements of unspecified content to the end, for the caller to fill in.
    void Extend(int n) {
        if (n <= 0) {
            return;
        }
        Discard(Grow(n));
        m_nLength += n;
    }

    // Zeroes the whole allocation; length and capacity stay.
    void Wipe() { SecureWipe(m_pBuffer, sizeof(Type) * m_nCapacity); }

    Type* m_pBuffer = nullptr;
    int m_nCapacity = 0;
    int m_nLength = 0;

private:
    // An array that was replaced and still has to be wiped and freed.
    struct Retired {
        Type* array = nullptr;
        int capacity = 0;
    };

    // Makes room for n more elements. When the array must grow, the new one holds twice the
    // needed length and the current content; the old array is handed back for the caller to
    // discard once it no longer reads from it.
    Retired Grow(int n) {
        if (n > INT_MAX - m_nLength) {
            throw std::bad_alloc();
        }
        const int needed = m_nLength + n;
        if (needed <= m_nCapacity) {
            return {};
        }
        const int capacity = needed > INT_MAX / 2 ? INT_MAX : needed * 2;
        Type* grown = new Type[capacity];
        LockMemory(grown, sizeof(Type) * capacity);
        if (m_pBuffer != nullptr && m_nLength > 0) {
            std::memcpy(grown, m_pBuffer, sizeof(Type) * m_nLength);
        }
        Retired old{m_pBuffer, m_nCapacity};
        m_pBuffer = grown;
        m_nCapacity = capacity;
        return old;
    }

    static void Discard(const Retired& old) {
        if (old.array != nullptr) {
            SecureWipe(old.array, sizeof(Type) * old.capacity);
            UnlockMemory(old.array, sizeof(Type) * old.capacity);
            delete[] old.array;
        }
    }

    void Release() {
        Wipe();
        UnlockMemory(m_pBuffer, sizeof(Type) * m_nCapacity);
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
        m_nCapacity = 0;
        m_nLength = 0;
    }
};

}  // namespace Ombrix
