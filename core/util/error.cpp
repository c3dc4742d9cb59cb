#include "core/util/error.hpp"

#include <cstdio>
#include <cstdlib>

namespace quillet {

namespace {

template <class... Fs>
struct Overloaded : Fs... { using Fs::operator()...; };

}  // namespace

std::string QuilletError::message() const {
    return std::visit(
        Overloaded{
            [](const err::InvalidDimensions& e) { return "invalid dimensions: width=" + std::to_string(e.width) + " height=" + std::to_string(e.height); },
            [](const err::InvalidStride& e) { return "invalid stride: width=" + std::to_string(e.width) + " stride=" + std::to_string(e.stride); },
            [](const err::BufferTooSmall& e) { return "buffer too small: needed=" + std::to_string(e.needed) + " got=" + std::to_string(e.got); },
            [](const err::RoiOutOfBounds& e) {
                return "roi out of bounds: x=" + std::to_string(e.x) + " y=" + std::to_string(e.y) +
                       " width=" + std::to_string(e.width) + " height=" + std::to_string(e.height) +
                       " img_width=" + std::to_string(e.img_width) + " img_height=" + std::to_string(e.img_height);
            },
            [](const err::DegenerateTemplate& e) { return "degenerate template: " + std::string(e.reason); },
            [](const err::InvalidAngleGrid& e) { return "invalid angle grid: " + std::string(e.reason); },
            [](const err::IndexOutOfBounds& e) {
                return "index out of bounds: " + std::string(e.context) + " index=" + std::to_string(e.index) + " len=" + std::to_string(e.len);
            },
            [](const err::NoCandidates& e) { return "no candidates: " + std::string(e.reason); },
            [](const err::UnsupportedMetric& e) { return "unsupported metric: " + std::string(e.metric); },
            [](const err::RotationUnavailable& e) { return "rotation unavailable: " + std::string(e.reason); },
            [](const err::ImageIo& e) { return "image io error: " + e.reason; },
            [](const err::ParallelUnavailable&) {
                return std::string("parallel execution was requested but this build of quillet has no parallel execution support");
            },
            [](const err::InvalidConfig& e) { return "invalid config: " + std::string(e.reason); },
        },
        kind);
}

std::string QuilletError::debug() const {
    auto n = [](std::size_t v) { return std::to_string(v); };
    auto q = [](std::string_view v) {
        std::string s(1, '"');
        s.append(v);
        s.push_back('"');
        return s;
    };
    return std::visit(
        Overloaded{
            [&](const err::InvalidDimensions& e) { return "InvalidDimensions { width: " + n(e.width) + ", height: " + n(e.height) + " }"; },
            [&](const err::InvalidStride& e) { return "InvalidStride { width: " + n(e.width) + ", stride: " + n(e.stride) + " }"; },
            [&](const err::BufferTooSmall& e) { return "BufferTooSmall { needed: " + n(e.needed) + ", got: " + n(e.got) + " }"; },
            [&](const err::RoiOutOfBounds& e) {
                return "RoiOutOfBounds { x: " + n(e.x) + ", y: " + n(e.y) + ", width: " + n(e.width) + ", height: " + n(e.height) +
                       ", img_width: " + n(e.img_width) + ", img_height: " + n(e.img_height) + " }";
            },
            [&](const err::DegenerateTemplate& e) { return "DegenerateTemplate { reason: " + q(e.reason) + " }"; },
            [&](const err::InvalidAngleGrid& e) { return "InvalidAngleGrid { reason: " + q(e.reason) + " }"; },
            [&](const err::IndexOutOfBounds& e) {
                return "IndexOutOfBounds { index: " + n(e.index) + ", len: " + n(e.len) + ", context: " + q(e.context) + " }";
            },
            [&](const err::NoCandidates& e) { return "NoCandidates { reason: " + q(e.reason) + " }"; },
            [&](const err::UnsupportedMetric& e) { return "UnsupportedMetric { metric: " + q(e.metric) + " }"; },
            [&](const err::RotationUnavailable& e) { return "RotationUnavailable { reason: " + q(e.reason) + " }"; },
            [&](const err::ImageIo& e) { return "ImageIo { reason: " + q(e.reason) + " }"; },
            [&](const err::ParallelUnavailable&) { return std::string("ParallelUnavailable"); },
            [&](const err::InvalidConfig& e) { return "InvalidConfig { reason: " + q(e.reason) + " }"; },
        },
        kind);
}

void fatal(std::string_view message) {
    std::fprintf(stderr, "quillet: fatal internal error: %.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

}  // namespace quillet
