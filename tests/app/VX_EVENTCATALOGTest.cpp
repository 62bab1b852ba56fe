#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTCATALOGLISTENER.h"
#include "wire/CatalogRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recorder : VX_EVENTCATALOGLISTENER
{
    Recorder(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}

    void entryAdded(const CatalogRecord& r) override
    {
        log.push_back(name + ":add");
        last = &r;
    }
    void entryChanged(int index, const CatalogRecord& r) override
    {
        log.push_back(name + ":change" + std::to_string(index));
        last = &r;
    }
    void listReset() override { log.push_back(name + ":reset"); }

    std::string name;
    std::vector<std::string>& log;
    const CatalogRecord* last = nullptr;
};

class VX_EVENTCATALOGTest : public testing::Test
{
protected:
    VX_EVENTCATALOG channel;
};

} // namespace

TEST_F(VX_EVENTCATALOGTest, CallsListenersInRegistrationOrderOncePerRegistration)
{
    std::vector<std::string> log;
    Recorder a("a", log), b("b", log);
    channel.addListener(&a);
    channel.addListener(&b);
    channel.addListener(&a);

    const CatalogRecord record{};
    channel.notifyAdd(record);
    channel.notifyUpdate(record, 7);
    channel.notifyReset();

    EXPECT_EQ(log, (std::vector<std::string>{"a:add", "b:add", "a:add", "a:change7", "b:change7",
                                             "a:change7", "a:reset", "b:reset", "a:reset"}));
    EXPECT_EQ(a.last, &record);
    EXPECT_EQ(b.last, &record);
}

TEST_F(VX_EVENTCATALOGTest, InstanceIsTheLiveChannelAndNoneAfterItEnds)
{
    EXPECT_EQ(VX_EVENTCATALOG::instance(), &channel);
    {
        VX_EVENTCATALOG other;
        EXPECT_EQ(VX_EVENTCATALOG::instance(), &other);
    }
    EXPECT_EQ(VX_EVENTCATALOG::instance(), nullptr);
}

// A listener that registers another one while it is being called must not break the walk
// over the list it is growing.
TEST_F(VX_EVENTCATALOGTest, ListenerMayRegisterAnotherDuringACall)
{
    std::vector<std::string> log;
    std::vector<std::unique_ptr<Recorder>> added;
    struct Spawner : VX_EVENTCATALOGLISTENER
    {
        std::vector<std::unique_ptr<Recorder>>* added;
        std::vector<std::string>* log;
        void entryAdded(const CatalogRecord&) override
        {
            for (int i = 0; i < 20; ++i) {
                added->push_back(std::make_unique<Recorder>("n", *log));
                VX_EVENTCATALOG::instance()->addListener(added->back().get());
            }
        }
    } spawner;
    spawner.added = &added;
    spawner.log = &log;
    channel.addListener(&spawner);

    channel.notifyAdd(CatalogRecord{});
    EXPECT_TRUE(log.empty()); // the new listeners join from the next event on
    channel.notifyReset();
    EXPECT_EQ(log.size(), 20u);
}
