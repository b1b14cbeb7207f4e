// The singleton registry.
#include "kernel/runtime/singleton.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string g_events;

struct t_serviceA {
    ~t_serviceA() { g_events += "~A"; }
};
struct t_serviceB {
    ~t_serviceB() { g_events += "~B"; }
};
struct t_serviceC {
    int value = 0;
};
// Its destructor reaches another service, as a dictionary's block reaches
// the version manager.
struct t_serviceUsesC {
    ~t_serviceUsesC() { t_singleton<t_serviceC>::Get().value = 42; }
};

TEST(SingletonTest, DestroyedInReverseOrderOfCreation) {
    t_singletonManager* manager = t_singletonManagerPtr::Get();
    ASSERT_NE(nullptr, manager);
    manager->DestroyAll();
    g_events.clear();
    t_serviceA* a = &t_singleton<t_serviceA>::Get();
    EXPECT_EQ(a, &t_singleton<t_serviceA>::Get());  // one instance
    t_singleton<t_serviceB>::Get();
    EXPECT_EQ(2u, manager->GetCount());
    EXPECT_EQ(1, manager->DestroyAll());
    EXPECT_EQ("~B~A", g_events);
    EXPECT_FALSE(t_singleton<t_serviceA>::Exists());
    EXPECT_FALSE(t_singleton<t_serviceB>::Exists());
    EXPECT_EQ(1, manager->DestroyAll());  // empty registry
}

TEST(SingletonTest, ServiceUsedDuringDestructionComesBackEmpty) {
    t_singletonManager* manager = t_singletonManagerPtr::Get();
    manager->DestroyAll();
    t_singleton<t_serviceUsesC>::Get();
    t_singleton<t_serviceC>::Get().value = 7;
    manager->DestroyAll();  // C goes first; then the user's destructor needs C
    ASSERT_TRUE(t_singleton<t_serviceC>::Exists());
    EXPECT_EQ(42, t_singleton<t_serviceC>::Get().value);
    EXPECT_EQ(1u, manager->GetCount());  // the new C registered in the emptied list
    manager->DestroyAll();
    EXPECT_FALSE(t_singleton<t_serviceC>::Exists());
    EXPECT_EQ(0, t_singleton<t_serviceC>::Get().value);  // a fresh instance
    manager->DestroyAll();
}

}  // namespace
