#include "core/util/trace.hpp"

namespace quillet::trace {

namespace {
std::atomic<Subscriber*> g_subscriber{nullptr};
}

void set_subscriber(Subscriber* subscriber) { g_subscriber.store(subscriber, std::memory_order_release); }

Subscriber* subscriber() { return g_subscriber.load(std::memory_order_acquire); }

}  // namespace quillet::trace
