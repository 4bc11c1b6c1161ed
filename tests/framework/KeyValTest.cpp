#include "framework/KeyVal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A value that records its own destruction.
struct Tracked {
    Tracked(std::string name, std::vector<std::string>* log) : name(std::move(name)), log(log) {}
    ~Tracked() { log->push_back(name); }
    std::string name;
    std::vector<std::string>* log;
};

using Map = Ombrix::KeyVal<std::string, Tracked, Loki::ObjectLevelLockable>;

TEST(KeyValTest, SetRefusesANullValueAndKeepsTheMap) {
    std::vector<std::string> destroyed;
    Map map;
    EXPECT_EQ(map.Set("k", std::make_unique<Tracked>("v", &destroyed)), 0);
    EXPECT_EQ(map.Set("k", nullptr), 3);
    ASSERT_NE(map.Get("k"), nullptr);
    EXPECT_EQ(map.Get("k")->name, "v");
    EXPECT_TRUE(destroyed.empty());
}

TEST(KeyValTest, ReplacingAValueDestroysTheOldOneExactlyOnce) {
    std::vector<std::string> destroyed;
    {
        Map map;
        map.Set("k", std::make_unique<Tracked>("first", &destroyed));
        map.Set("k", std::make_unique<Tracked>("second", &destroyed));
        EXPECT_EQ(destroyed, std::vector<std::string>{"first"});
        EXPECT_EQ(map.Get("k")->name, "second");
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"first", "second"}));
}

TEST(KeyValTest, RemoveDeletesAndForgets) {
    std::vector<std::string> destroyed;
    Map map;
    EXPECT_EQ(map.Remove("absent"), 0);
    map.Set("k", std::make_unique<Tracked>("v", &destroyed));
    EXPECT_EQ(map.Remove("k"), 0);
    EXPECT_EQ(destroyed, std::vector<std::string>{"v"});
    EXPECT_EQ(map.Get("k"), nullptr);
}

TEST(KeyValTest, DestructionDeletesValuesInAscendingKeyOrder) {
    std::vector<std::string> destroyed;
    {
        Map map;
        map.Set("b", std::make_unique<Tracked>("b", &destroyed));
        map.Set("a", std::make_unique<Tracked>("a", &destroyed));
        map.Set("c", std::make_unique<Tracked>("c", &destroyed));
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(KeyValTest, NumericKeysOrderNumerically) {
    std::vector<std::string> destroyed;
    {
        Ombrix::KeyVal<unsigned long, Tracked, Loki::ObjectLevelLockable> map;
        map.Set(10, std::make_unique<Tracked>("10", &destroyed));
        map.Set(9, std::make_unique<Tracked>("9", &destroyed));
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"9", "10"}));
}

}  // namespace
