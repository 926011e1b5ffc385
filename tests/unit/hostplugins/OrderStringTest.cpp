#include "hostplugins/OrderString.h"

#include <gtest/gtest.h>

#include <initializer_list>
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

// Entries are written here without their quotes, which every case would repeat: Q adds them.
std::string Q(std::initializer_list<const char*> entries) {
    std::string order;
    for (const char* entry : entries) {
        if (!order.empty()) order += ',';
        order += std::string("\"") + entry + '"';
    }
    return order;
}

TEST(OrderString, MergeKeepsTheEntriesOfChildrenNotLoaded) {
    struct Case {
        const char* name;
        std::string stored;
        std::string current;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing stored", "", Q({"b.spi=1", "a.spi=0"}), Q({"b.spi=1", "a.spi=0"})},
        {"no child loaded keeps everything", Q({"x.sph=1", "y.sph=0"}), "",
         Q({"x.sph=1", "y.sph=0"})},
        {"loaded order and flags win", Q({"a.spi=1", "b.spi=0"}), Q({"b.spi=1", "a.spi=0"}),
         Q({"b.spi=1", "a.spi=0"})},
        {"foreign entry follows the child before it", Q({"a.spi=1", "x.sph=0", "b.spi=1"}),
         Q({"b.spi=1", "a.spi=1"}), Q({"b.spi=1", "a.spi=1", "x.sph=0"})},
        {"a run stays together behind its child",
         Q({"a.spi=1", "b.spi=1", "x.sph=1", "y.sph=0", "c.spi=1"}),
         Q({"c.spi=1", "b.spi=0", "a.spi=1"}),
         Q({"c.spi=1", "b.spi=0", "x.sph=1", "y.sph=0", "a.spi=1"})},
        {"before every loaded child stays at the head", Q({"x.sph=1", "a.spi=1", "b.spi=1"}),
         Q({"b.spi=1", "a.spi=1"}), Q({"x.sph=1", "b.spi=1", "a.spi=1"})},
        {"a child new today takes its place in the list", Q({"a.spi=1", "x.sph=1"}),
         Q({"new.spi=1", "a.spi=1"}), Q({"new.spi=1", "a.spi=1", "x.sph=1"})},
        {"a repeated loaded name anchors where it last stood",
         Q({"a.spi=1", "x.sph=1", "b.spi=1", "a.spi=0", "y.sph=1"}), Q({"b.spi=1", "a.spi=1"}),
         Q({"b.spi=1", "a.spi=1", "x.sph=1", "y.sph=1"})},
        {"a foreign name once, with its first flag", Q({"x.sph=0", "a.spi=1", "x.sph=1"}),
         Q({"a.spi=1"}), Q({"x.sph=0", "a.spi=1"})},
        {"names match case-sensitively", Q({"a.spi=1", "A.spi=0"}), Q({"a.spi=1"}),
         Q({"a.spi=1", "A.spi=0"})},
        {"a flag other than 1 is off", Q({"x.sph=yes", "y.sph=", "z.sph=1"}), "",
         Q({"x.sph=0", "y.sph=0", "z.sph=1"})},
        {"nameless entries are dropped", "\"x.sph\",,\"=1\",\"y.sph=1\",", Q({"a.spi=1"}),
         Q({"y.sph=1", "a.spi=1"})},
        {"a quote inside a name is dropped", "\"x\"\"y.sph=1\",\"z.sph=1\"", "", Q({"z.sph=1"})},
        {"a comma inside a quoted name survives", Q({"a,b.sph=1"}), Q({"a.spi=1"}),
         Q({"a,b.sph=1", "a.spi=1"})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MergeOrderStrings(c.stored, c.current), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace qorvi
