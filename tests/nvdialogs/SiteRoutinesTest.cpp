#include "DialogFixture.h"

namespace {

class SiteRoutinesTest : public DialogFixture {
protected:
    QStringList DeviceNames() const
    {
        QStringList names;
        for (const auto& dvr : document.deviceList)
            names << dvr->name;
        return names;
    }
    QStringList GroupNames() const
    {
        QStringList names;
        for (const auto& group : document.groupList)
            names << group->name;
        return names;
    }
    CGroup* AddGroupWithCameras(const QString& name, const QStringList& channels)
    {
        auto group = std::make_unique<CGroup>();
        group->name = name;
        int cell = 0;
        for (const QString& channel : channels) {
            auto camera = std::make_unique<CCamera>();
            camera->channelName = channel;
            camera->cell = cell++;
            group->cameras->push_back(std::move(camera));
        }
        return site::AddGroup(document, std::move(group));
    }
};

TEST_F(SiteRoutinesTest, NarrowNameKeepsLowBytesUpTo260AndStopsAtZero)
{
    EXPECT_EQ(site::NarrowName(QString::fromUtf16(u"A\u0142b")), QByteArray("A\x42" "b"));
    EXPECT_EQ(site::NarrowName(QString(300, QChar('x'))).size(), 260);
    EXPECT_EQ(site::NarrowName(QString::fromUtf16(u"ab\u0100cd")), QByteArray("ab"));
    // Bytes compare unsigned: 0xE9 orders after 'z'.
    EXPECT_GT(site::CompareNarrowNames(QString::fromUtf16(u"\u00e9"), "z"), 0);
    EXPECT_LT(site::CompareNarrowNames("ab", "abc"), 0);
    EXPECT_EQ(site::CompareNarrowNames("same", "same"), 0);
}

TEST_F(SiteRoutinesTest, AddDvrKeepsByteOrderOfNames)
{
    AddStoredDvr("alpha", 0);
    AddStoredDvr("Zeta", 0);
    AddStoredDvr("beta", 0);
    AddStoredDvr("Alpha", 0);
    AddStoredDvr("omega", 0);
    EXPECT_EQ(DeviceNames(), QStringList({ "Alpha", "Zeta", "alpha", "beta", "omega" }));
}

TEST_F(SiteRoutinesTest, AnEqualNameGoesAfterTheExistingOne)
{
    CDVR* first = AddStoredDvr("same", 0);
    AddStoredDvr("z", 0);
    CDVR* second = AddStoredDvr("same", 1);
    ASSERT_EQ(document.deviceList.size(), 3u);
    EXPECT_EQ(document.deviceList[0].get(), first);
    EXPECT_EQ(document.deviceList[1].get(), second);
    // Find returns the first in list order.
    EXPECT_EQ(site::FindDvr(document, "same"), first);
}

TEST_F(SiteRoutinesTest, FindAndNameFreeAreExactAndCaseSensitive)
{
    CDVR* dvr = AddStoredDvr("Lobby", 1);
    EXPECT_EQ(site::FindDvr(document, "Lobby"), dvr);
    EXPECT_EQ(site::FindDvr(document, "lobby"), nullptr);
    ASSERT_NE(site::FindChannel(*dvr, "Lobby-03"), nullptr);
    EXPECT_EQ(site::FindChannel(*dvr, "Lobby-03")->number, 3);
    EXPECT_EQ(site::FindChannel(*dvr, "Lobby-05"), nullptr);

    EXPECT_FALSE(site::IsNameFree(document, "Lobby", "", site::NameCheck::Device));
    EXPECT_TRUE(site::IsNameFree(document, "LOBBY", "", site::NameCheck::Device));
    EXPECT_FALSE(site::IsNameFree(document, "Lobby", "Lobby-01", site::NameCheck::Channel));
    EXPECT_TRUE(site::IsNameFree(document, "Lobby", "Lobby-99", site::NameCheck::Channel));
    EXPECT_FALSE(site::IsNameFree(document, "Nowhere", "Lobby-99", site::NameCheck::Channel));

    CGroup* group = AddGroupWithCameras("Night", { "Gate-01", "Gate-02" });
    EXPECT_EQ(site::FindGroup(document, "Night"), group);
    EXPECT_EQ(site::FindGroup(document, "night"), nullptr);
    ASSERT_NE(site::FindCamera(*group, "Gate-02"), nullptr);
    EXPECT_EQ(site::FindCamera(*group, "Gate-02")->cell, 1);
    EXPECT_EQ(site::FindCamera(*group, "Gate-03"), nullptr);
}

TEST_F(SiteRoutinesTest, RemoveRoutinesTakeTheFirstMatchOnly)
{
    AddStoredDvr("A", 1);
    AddStoredDvr("A", 0);
    AddStoredDvr("B", 1);
    EXPECT_TRUE(site::RemoveChannel(document, "B", "B-02"));
    EXPECT_FALSE(site::RemoveChannel(document, "B", "B-02"));
    EXPECT_FALSE(site::RemoveChannel(document, "C", "B-01"));
    CDVR* b = site::FindDvr(document, "B");
    ASSERT_EQ(b->channels.size(), 3u);
    EXPECT_EQ(b->channels[1]->name, "B-03");

    EXPECT_TRUE(site::RemoveDvrByName(document, "A"));
    ASSERT_EQ(DeviceNames(), QStringList({ "A", "B" }));
    EXPECT_EQ(document.deviceList[0]->channelType, 0); // the second "A" stays
    EXPECT_FALSE(site::RemoveDvrByName(document, "a"));

    AddGroupWithCameras("G", { "X-01", "X-02", "X-01" });
    AddGroupWithCameras("G", { "Y-01" });
    EXPECT_EQ(site::RemoveCamera(document, "G", "X-01"), 0);
    EXPECT_EQ(site::RemoveCamera(document, "G", "X-01"), 2);
    EXPECT_EQ(site::RemoveCamera(document, "G", "X-01"), -1);
    EXPECT_EQ(site::RemoveCamera(document, "G", "Y-01"), -1); // only the first group is searched
    EXPECT_EQ(site::RemoveCamera(document, "None", "X-02"), -1);
    EXPECT_TRUE(site::RemoveGroupByName(document, "G"));
    ASSERT_EQ(GroupNames(), QStringList({ "G" }));
    EXPECT_EQ(document.groupList[0]->cameras->at(0)->channelName, "Y-01");
    EXPECT_TRUE(site::RemoveGroupByName(document, "G"));
    EXPECT_FALSE(site::RemoveGroupByName(document, "G"));
}

TEST_F(SiteRoutinesTest, NameCharacterRule)
{
    for (const char* good : { "", "front_door-2", "  Gate  ", "ABCxyz019", "\tTab\n" })
        EXPECT_TRUE(site::HasOnlyNameCharacters(good)) << good;
    for (const char* bad : { "Front Door", "a.b", "x/y", "caf\xc3\xa9", "semi;colon", "100%" })
        EXPECT_FALSE(site::HasOnlyNameCharacters(QString::fromUtf8(bad))) << bad;
}

TEST_F(SiteRoutinesTest, StoreCurrentGroupNamesTheCamerasAndInsertsADeepCopyInOrder)
{
    AddGroupWithCameras("alpha", {});
    AddGroupWithCameras("Beta", {});
    EXPECT_EQ(site::StoreCurrentGroup(document), nullptr); // no current group yet

    document.currentGroup = std::make_unique<CGroup>();
    document.currentGroup->name = "Zeta";
    document.currentGroup->splitMode = 9;
    auto camera = std::make_unique<CCamera>();
    camera->channelName = "Cam-01";
    camera->cell = 4;
    document.currentGroup->cameras->push_back(std::move(camera));

    CGroup* stored = site::StoreCurrentGroup(document);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(GroupNames(), QStringList({ "Beta", "Zeta", "alpha" }));
    EXPECT_NE(stored, document.currentGroup.get());
    EXPECT_EQ(stored->splitMode, 9);
    EXPECT_EQ(document.currentGroup->cameras->at(0)->groupName, "Zeta");
    ASSERT_EQ(stored->cameras->size(), 1u);
    EXPECT_EQ(stored->cameras->at(0)->cell, 4);
    // A deep copy: later edits of the screen leave the saved group alone.
    document.currentGroup->cameras->at(0)->cell = 7;
    EXPECT_EQ(stored->cameras->at(0)->cell, 4);
}

} // namespace
