#include "core/image/image.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quillet {
namespace {

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

std::string message_of(QuilletError::Kind kind) { return QuilletError{std::move(kind)}.message(); }

TEST(QuilletError, DisplayTexts) {
    struct Case {
        QuilletError::Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {err::InvalidDimensions{0, 5}, "invalid dimensions: width=0 height=5"},
        {err::InvalidStride{4, 3}, "invalid stride: width=4 stride=3"},
        {err::BufferTooSmall{12, 11}, "buffer too small: needed=12 got=11"},
        {err::RoiOutOfBounds{1, 2, 30, 40, 25, 35},
         "roi out of bounds: x=1 y=2 width=30 height=40 img_width=25 img_height=35"},
        {err::DegenerateTemplate{"flat"}, "degenerate template: flat"},
        {err::InvalidAngleGrid{"step must be positive"}, "invalid angle grid: step must be positive"},
        {err::IndexOutOfBounds{3, 2, "image level"}, "index out of bounds: image level index=3 len=2"},
        {err::NoCandidates{"none left"}, "no candidates: none left"},
        {err::UnsupportedMetric{"sad"}, "unsupported metric: sad"},
        {err::RotationUnavailable{"no banks"}, "rotation unavailable: no banks"},
        {err::ImageIo{"No such file or directory (os error 2)"},
         "image io error: No such file or directory (os error 2)"},
        {err::ParallelUnavailable{},
         "parallel execution was requested but this build of quillet has no parallel execution support"},
        {err::InvalidConfig{"beam_width must be at least 1"}, "invalid config: beam_width must be at least 1"},
        {err::InvalidDimensions{kMax, 1}, "invalid dimensions: width=18446744073709551615 height=1"},
    };
    for (const Case& c : cases) EXPECT_EQ(message_of(c.kind), c.text);
}

TEST(QuilletError, DebugNamesKindAndFieldsInDeclarationOrder) {
    EXPECT_EQ((QuilletError{err::IndexOutOfBounds{3, 2, "image level"}}.debug()),
              "IndexOutOfBounds { index: 3, len: 2, context: \"image level\" }");
    EXPECT_EQ((QuilletError{err::ParallelUnavailable{}}.debug()), "ParallelUnavailable");
}

TEST(RequiredLen, Cases) {
    struct Case {
        std::size_t width, height, stride;
        Result<std::size_t> expected;
    };
    const Case cases[] = {
        {4, 3, 10, 24},                                      // the last row needs only width bytes
        {4, 1, 100, 4},
        {4, 3, 4, 12},
        {0, 5, 0, fail(err::InvalidDimensions{0, 5})},       // zero size before the stride test
        {5, 0, 9, fail(err::InvalidDimensions{5, 0})},
        {4, 3, 3, fail(err::InvalidStride{4, 3})},
        {1, 3, kMax, fail(err::InvalidDimensions{1, 3})},    // (h - 1) * stride overflows
        {2, 2, kMax - 1, fail(err::InvalidDimensions{2, 2})},  // the addition overflows
        {1, 2, kMax - 1, kMax},                              // fits exactly
    };
    for (const Case& c : cases) {
        auto got = required_len(c.width, c.height, c.stride);
        const std::string shape = std::to_string(c.width) + "x" + std::to_string(c.height) + "/" + std::to_string(c.stride);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << shape;
        if (got) EXPECT_EQ(*got, *c.expected) << shape;
        else EXPECT_EQ(got.error().message(), c.expected.error().message()) << shape;
    }
}

TEST(ImageView, RejectsShortBufferAcceptsLongerOne) {
    const std::vector<std::uint8_t> bytes(13, 7);
    auto short_view = ImageView::create(std::span(bytes).first(11), 4, 3, 4);
    ASSERT_FALSE(short_view);
    EXPECT_EQ(short_view.error().message(), "buffer too small: needed=12 got=11");
    auto view = ImageView::create(bytes, 4, 3, 4);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->width, 4u);
    EXPECT_EQ(view->height, 3u);
    EXPECT_EQ(view->stride, 4u);
}

TEST(ImageView, PropagatesSizeErrors) {
    const std::vector<std::uint8_t> bytes(64);
    EXPECT_EQ(ImageView::create(bytes, 4, 3, 3).error().message(), "invalid stride: width=4 stride=3");
    EXPECT_EQ(ImageView::create(bytes, 0, 3, 3).error().message(), "invalid dimensions: width=0 height=3");
}

TEST(ImageView, RowsAndPixelsHonourStride) {
    // 3 x 2 pixels with stride 5; only 8 bytes, because the last row needs only 3.
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 90, 91, 4, 5, 6};
    auto view = ImageView::create(bytes, 3, 2, 5);
    ASSERT_TRUE(view);
    auto row1 = view->row(1);
    ASSERT_TRUE(row1);
    EXPECT_EQ(std::vector<std::uint8_t>(row1->begin(), row1->end()), (std::vector<std::uint8_t>{4, 5, 6}));
    EXPECT_FALSE(view->row(2));
    EXPECT_EQ(view->at(2, 1), 6);
}

TEST(OwnedImage, CreateChecksTheExactLength) {
    struct Case {
        std::size_t len, width, height;
        const char* error;  // nullptr: built
    };
    const Case cases[] = {
        {12, 3, 4, nullptr},
        {13, 3, 4, "invalid dimensions: width=3 height=4"},  // an over-long buffer is refused
        {11, 3, 4, "buffer too small: needed=12 got=11"},
        {0, 0, 4, "invalid dimensions: width=0 height=4"},
        {0, 4, 0, "invalid dimensions: width=4 height=0"},
        {4, kMax, 2, "invalid dimensions: width=18446744073709551615 height=2"},  // area overflows
    };
    for (const Case& c : cases) {
        auto image = OwnedImage::create(std::vector<std::uint8_t>(c.len), c.width, c.height);
        if (c.error == nullptr) {
            ASSERT_TRUE(image);
            EXPECT_EQ(image->width(), c.width);
            EXPECT_EQ(image->height(), c.height);
            EXPECT_EQ(image->stride(), c.width);
            EXPECT_EQ(image->data().size(), c.len);
        } else {
            ASSERT_FALSE(image) << c.error;
            EXPECT_EQ(image.error().message(), c.error);
        }
    }
}

TEST(OwnedImage, FromViewPacksRowsAndDropsGaps) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 90, 91, 4, 5, 6, 92, 93, 7, 8, 9};
    auto view = ImageView::create(bytes, 3, 3, 5);
    ASSERT_TRUE(view);
    auto image = OwnedImage::from_view(*view);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->stride(), 3u);
    EXPECT_EQ(image->data(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const ImageView packed = image->view();
    EXPECT_EQ(packed.stride, 3u);
    EXPECT_EQ(packed.at(1, 2), 8);
}

TEST(OwnedImage, FromViewRefusesAnEmptyView) {
    EXPECT_EQ(OwnedImage::from_view(ImageView{{}, 0, 3, 0}).error().message(), "invalid dimensions: width=0 height=3");
    EXPECT_EQ(OwnedImage::from_view(ImageView{{}, 3, 0, 3}).error().message(), "invalid dimensions: width=3 height=0");
}

}  // namespace
}  // namespace quillet
