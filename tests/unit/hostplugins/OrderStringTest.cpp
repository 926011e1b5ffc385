#include "hostplugins/OrderString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi {
namespace {

TEST(OrderString, OrderStringOfThreeChildren) {
    std::string order;
    AppendOrderEntry(order, "a.spi", true);
    EXPECT_EQ(order, "\"a.spi=1\"");
    AppendOrderEntry(order, "b.spi", false);
    AppendOrderEntry(order, "c.spi", true);
    EXPECT_EQ(order, "\"a.spi=1\",\"b.spi=0\",\"c.spi=1\"");
    EXPECT_EQ(order.size(), 29u);
}

TEST(OrderString, ParsesOrderStrings) {
    struct Case {
        const char* name;
        const char* order;
        std::vector<OrderEntry> expected;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"quoted", "\"a.spi=1\",\"b.spi=0\"", {{"a.spi", "1"}, {"b.spi", "0"}}},
        {"unquoted", "a.spi=1, b.spi=0", {{"a.spi", "1"}, {"b.spi", "0"}}},
        {"quoted name with blank", "\"my child.spi=1\"", {{"my child.spi", "1"}}},
        {"split at the first equals", "\"a=b.spi=1\"", {{"a", "b.spi=1"}}},
        {"no equals is empty", "\"a.spi\",b.spi=1", {{"", ""}, {"b.spi", "1"}}},
        {"empty value", "a.spi=", {{"a.spi", ""}}},
        {"empty name", "=1", {{"", "1"}}},
    };
    for (const Case& c : cases) {
        const std::vector<OrderEntry> got = ParseOrderEntries(c.order);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, c.expected[i].name) << c.name << " #" << i;
            EXPECT_EQ(got[i].value, c.expected[i].value) << c.name << " #" << i;
        }
    }
}

}  // namespace
}  // namespace qorvi
