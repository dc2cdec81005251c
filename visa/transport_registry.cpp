#include "visa/transport_registry.h"

#include <mutex>

namespace quarvel::visa {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<TransportRow> rows;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

void RegisterTransport(const TransportRow& row) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.rows.push_back(row);
}

std::vector<TransportRow> RegisteredTransports() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.rows;
}

} // namespace quarvel::visa
