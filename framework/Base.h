// Root of every Ombrix framework class: pooled allocation through Loki's small-object
// allocator, an optional per-object lock and an optional reference count.
#pragma once

#include <loki/SmallObj.h>
#include <loki/Threads.h>

namespace Ombrix {

// One process-wide pool: 4 KiB chunks, objects up to 256 bytes, 4-byte alignment, guarded
// by a class-level lock. Larger objects fall through to the general heap.
using SmallObjectRoot =
    Loki::SmallObject<Loki::ClassLevelLockable, 4096, 256, 4,
                      Loki::LongevityLifetime::DieAsSmallObjectParent, Loki::Mutex>;

struct _NoCountPolicy {};

// Carries a count for objects that may be shared; nothing in the program changes it.
struct _ReferenceCountPolicy {
    int m_nRef = 0;
};

template <class CountPolicy, template <class, class> class ThreadingModel>
class Base : public SmallObjectRoot,
             public ThreadingModel<Base<CountPolicy, ThreadingModel>, Loki::Mutex>,
             public CountPolicy {
public:
    Base() = default;
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;
    ~Base() override = default;
};

using PlainBase = Base<_NoCountPolicy, Loki::SingleThreaded>;
using CountedLockedBase = Base<_ReferenceCountPolicy, Loki::ObjectLevelLockable>;

// Result codes shared by the framework operations.
enum ResultCode : int {
    kOk = 0,
    kRefused = 1,
    kNullItem = 3,
};

}  // namespace Ombrix
