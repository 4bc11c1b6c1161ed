// Tagged information items that a circuit carries, such as the peer address of an accepted
// network connection.
#pragma once

#include <string>

#include "framework/Data.h"
#include "framework/KeyVal.h"

namespace Ombrix {

struct _InfoItem {
    std::string m_strText;
    Data<unsigned char> m_data;
};

template <class Key, class Value, template <class, class> class ThreadingModel>
class Info : public KeyVal<Key, Value, ThreadingModel> {
public:
    ~Info() override = default;
};

using CircuitInfo = Info<std::string, _InfoItem, Loki::ObjectLevelLockable>;

}  // namespace Ombrix
