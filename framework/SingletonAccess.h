// Access to a Loki singleton that is safe for first calls made by several threads at once.
#pragma once

#include <mutex>

namespace Ombrix {

// Loki's holders look at their instance pointer before taking their lock, with a plain read:
// a thread that makes its first call while another is still creating the object races with
// the store of the pointer, and may even see the pointer before the object behind it. The
// first call is made under std::call_once, with which every later call synchronises; after
// it the pointer does not change until the holder destroys the object at exit.
template <class Holder>
auto& SingletonInstance() {
    static std::once_flag created;
    std::call_once(created, [] { Holder::Instance(); });
    return Holder::Instance();
}

}  // namespace Ombrix
