// Minimal instrumentation: named spans and events with fields. Nothing is recorded, and
// nothing is formatted, unless a subscriber is installed.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

namespace quillet::trace {

struct Field {
    std::string_view name;
    std::variant<std::uint64_t, std::int64_t, bool> value;
};
using Fields = std::initializer_list<Field>;

class Subscriber {
public:
    virtual ~Subscriber() = default;
    virtual void enter(std::string_view span, Fields fields) = 0;
    virtual void exit(std::string_view span) = 0;
    virtual void event(std::string_view name, Fields fields) = 0;
};

// Installs (or, with nullptr, removes) the process-wide subscriber. The caller keeps it alive.
void set_subscriber(Subscriber* subscriber);
Subscriber* subscriber();

// Entered on construction, exited on destruction.
class Span {
public:
    Span(std::string_view name, Fields fields) : name_(name), sub_(subscriber()) {
        if (sub_) sub_->enter(name_, fields);
    }
    ~Span() {
        if (sub_) sub_->exit(name_);
    }
    Span(const Span&) = delete;
    Span& operator=(const Span&) = delete;

private:
    std::string_view name_;
    Subscriber* sub_;
};

inline void event(std::string_view name, Fields fields) {
    if (auto* sub = subscriber()) sub->event(name, fields);
}

}  // namespace quillet::trace
