// A locked ordered map that owns its values. Each map carries its own mutex, held for the
// whole of one Set, Get or Remove, including the deletion of a replaced or removed value.
// Values are let go of through Deleter, which is plain delete unless the values manage
// their own lifetime (devices stay alive while circuits still use them).
#pragma once

#include <map>
#include <memory>

#include "framework/Base.h"

namespace Ombrix {

template <class Key, class Value, template <class, class> class ThreadingModel,
          class Deleter = std::default_delete<Value>>
class KeyVal : public PlainBase,
               public ThreadingModel<KeyVal<Key, Value, ThreadingModel, Deleter>, Loki::Mutex> {
    using Lockable = ThreadingModel<KeyVal<Key, Value, ThreadingModel, Deleter>, Loki::Mutex>;

public:
    using MapLock = typename Lockable::Lock;

    KeyVal() = default;

    // Values are deleted in ascending key order; the owner guarantees that nobody else
    // uses the map any more, so no lock is taken.
    ~KeyVal() override {
        for (auto& entry : m_map) {
            Deleter()(entry.second);
        }
    }

    // Stores value under key, replacing (and deleting) an older value. 3 for a null value.
    int Set(Key key, std::unique_ptr<Value> value) {
        if (!value) {
            return kNullItem;
        }
        MapLock guard(*this);
        auto found = m_map.find(key);
        if (found == m_map.end()) {
            m_map.emplace(std::move(key), value.release());
        } else {
            Deleter()(found->second);
            found->second = value.release();
        }
        return kOk;
    }

    // Borrowed pointer, or null when the key is absent.
    Value* Get(Key key) {
        MapLock guard(*this);
        auto found = m_map.find(key);
        return found == m_map.end() ? nullptr : found->second;
    }

    // Deletes the value under key, if any. Always 0.
    int Remove(Key key) {
        MapLock guard(*this);
        auto found = m_map.find(key);
        if (found != m_map.end()) {
            Deleter()(found->second);
            m_map.erase(found);
        }
        return kOk;
    }

protected:
    // Runs visit(value or null) while the map's lock is held, so that a caller can copy a
    // value without racing a replacement.
    template <class Visitor>
    void VisitLocked(const Key& key, Visitor&& visit) {
        MapLock guard(*this);
        auto found = m_map.find(key);
        visit(found == m_map.end() ? static_cast<Value*>(nullptr) : found->second);
    }

    std::map<Key, Value*> m_map;
};

}  // namespace Ombrix
