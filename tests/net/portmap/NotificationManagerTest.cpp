// Network-change notifications from the dynamic store's fixture: one notification per changed
// key, named by the key, in the store's order, with the key's value or none when removed.
#include <gtest/gtest.h>
#include "net/portmap/IXSCNotificationManager.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo {
namespace {

using dispatch::MainLoop;

TEST(NotificationManagerTest, ChangedKeysPostTheirNamesValuesAndRemovals) {
    MainLoop::resetForTesting();
    auto fixture = std::make_shared<netstate::FixtureSource>();
    netstate::DynamicStore::setSourceForTesting(fixture);
    std::vector<notify::Notification> seen;
    auto token = notify::NotificationCenter::defaultCenter().addObserver(
        "", nullptr, nullptr, [&](const notify::Notification& n) {
            if (n.name.rfind("State:", 0) == 0) seen.push_back(n);
        });
    {
        IXSCNotificationManager manager(dispatch::Queue::main());
        const std::string global = netstate::DynamicStore::kGlobalIPv4Key;
        const std::string eth0 = netstate::DynamicStore::interfaceIPv4Key("eth0");
        // Every key at first.
        fixture->setValue(eth0, Value(ValueDictionary{{"Addresses", Value(ValueArray{Value("10.0.0.2")})}}));
        fixture->setValue(global, Value(ValueDictionary{{"Router", Value("10.0.0.1")}}));
        fixture->commit();
        MainLoop::runUntilIdle();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].name, eth0);
        EXPECT_EQ(seen[0].object, &manager);
        EXPECT_EQ(seen[0].userInfo["Addresses"].at(0), Value("10.0.0.2"));
        EXPECT_EQ(seen[1].name, global);

        // Restricted to one key: others post nothing; a removal posts no user information.
        manager.setObservedKeys({global}, {});
        seen.clear();
        fixture->setValue(eth0, Value(ValueDictionary{}));
        fixture->removeValue(global);
        fixture->commit();
        MainLoop::runUntilIdle();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].name, global);
        EXPECT_TRUE(seen[0].userInfo.isNull());
    }
    notify::NotificationCenter::defaultCenter().removeObserver(token);
    netstate::DynamicStore::resetForTesting();
    MainLoop::resetForTesting();
}

}  // namespace
}  // namespace telvo
