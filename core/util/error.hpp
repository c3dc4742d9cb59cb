// The library's single error type. Every fallible operation returns Result<T>;
// the display texts are what a Python caller sees, so they are fixed.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace quillet {

namespace err {
struct InvalidDimensions { std::size_t width, height; };
struct InvalidStride { std::size_t width, stride; };
struct BufferTooSmall { std::size_t needed, got; };
struct RoiOutOfBounds { std::size_t x, y, width, height, img_width, img_height; };
struct DegenerateTemplate { std::string_view reason; };
struct InvalidAngleGrid { std::string_view reason; };
struct IndexOutOfBounds { std::size_t index, len; std::string_view context; };
struct NoCandidates { std::string_view reason; };
struct UnsupportedMetric { std::string_view metric; };
struct RotationUnavailable { std::string_view reason; };
struct ImageIo { std::string reason; };
struct ParallelUnavailable {};
struct InvalidConfig { std::string_view reason; };
}  // namespace err

// Fixed-text fields must point at strings that live for the whole program (literals).
struct QuilletError {
    using Kind = std::variant<err::InvalidDimensions, err::InvalidStride, err::BufferTooSmall,
                              err::RoiOutOfBounds, err::DegenerateTemplate, err::InvalidAngleGrid,
                              err::IndexOutOfBounds, err::NoCandidates, err::UnsupportedMetric,
                              err::RotationUnavailable, err::ImageIo, err::ParallelUnavailable,
                              err::InvalidConfig>;
    Kind kind;

    template <class K>
    bool is() const { return std::holds_alternative<K>(kind); }
    template <class K>
    const K& as() const { return std::get<K>(kind); }

    // The user-visible display text.
    std::string message() const;
    // Kind name followed by its fields, for fatal internal error messages.
    std::string debug() const;
};

template <class T>
using Result = std::expected<T, QuilletError>;
using Status = Result<void>;

template <class K>
std::unexpected<QuilletError> fail(K kind) {
    return std::unexpected(QuilletError{QuilletError::Kind{std::move(kind)}});
}

// A broken internal invariant that valid inputs cannot produce: report and abort.
[[noreturn]] void fatal(std::string_view message);

// Unwraps a result whose failure would be a broken invariant.
template <class T>
T expect_ok(Result<T> r, std::string_view message) {
    if (!r) fatal(std::string(message) + ": " + r.error().debug());
    return std::move(*r);
}

}  // namespace quillet
