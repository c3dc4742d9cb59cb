#include "core/candidate/topk.hpp"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(TopK, KeepsBestK) {
    TopK top(2);
    top.push({1, 1, 0, 0.5f});
    top.push({2, 2, 0, 0.9f});
    top.push({3, 3, 0, 0.7f});
    auto out = std::move(top).into_sorted_desc();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].score, 0.9f);
    EXPECT_EQ(out[1].score, 0.7f);
}

}  // namespace
}  // namespace quillet
