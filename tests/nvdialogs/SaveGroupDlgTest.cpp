#include "DialogFixture.h"

#include "netviewer/dialogs/CSaveGroupDlg.h"

#include <QRadioButton>

namespace {

using D = CSaveGroupDlg;

// Does the document half of the view's AddSavedGroup and records the calls.
class RecordingTarget : public ISaveGroupTarget {
public:
    explicit RecordingTarget(SettingsDocument& document) : document_(document) {}
    void AddSavedGroup(const QString& name, bool overwrite) override
    {
        calls.push_back({ name, overwrite });
        site::StoreCurrentGroup(document_);
    }
    struct Call {
        QString name;
        bool overwrite;
    };
    std::vector<Call> calls;

private:
    SettingsDocument& document_;
};

class SaveGroupDlgTest : public DialogFixture {
protected:
    void AddSavedGroup(const QString& name, int splitMode = 16)
    {
        auto group = std::make_unique<CGroup>();
        group->name = name;
        group->splitMode = int16_t(splitMode);
        site::AddGroup(document, std::move(group));
    }
    // The screen as the view holds it: a current group with one camera.
    void SetCurrentGroup(const QString& name, int splitMode)
    {
        document.currentGroup = std::make_unique<CGroup>();
        document.currentGroup->name = name;
        document.currentGroup->splitMode = int16_t(splitMode);
        auto camera = std::make_unique<CCamera>();
        camera->deviceName = "Lobby";
        camera->channelName = "Lobby-01";
        camera->cell = 2;
        document.currentGroup->cameras->push_back(std::move(camera));
    }
    QStringList GroupNames() const
    {
        QStringList names;
        for (const auto& group : document.groupList)
            names << group->name;
        return names;
    }
    QLineEdit* NameEdit(QWidget& dialog) { return Control<QLineEdit>(dialog, D::IDC_GROUP_NAME); }

    RecordingTarget target{ document };
};

TEST_F(SaveGroupDlgTest, NeverSavedScreenHidesTheChoiceAndNeedsAName)
{
    SetCurrentGroup("", 4);
    D dialog(document, target);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Save Group");
    EXPECT_EQ(dialog.objectName(), "135");
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_NEW_GROUP)->isHidden());
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_OVERWRITE)->isHidden());
    EXPECT_TRUE(NameEdit(dialog)->isEnabled());
    EXPECT_EQ(NameEdit(dialog)->text(), "");

    ClickOk(dialog);
    ASSERT_EQ(messages, std::vector<std::string>{ "Please enter group name." });
    EXPECT_TRUE(dialog.isVisible());
    messages.clear();
    QTest::keyClicks(NameEdit(dialog), "  ");
    ClickOk(dialog);
    ASSERT_EQ(messages, std::vector<std::string>{ "Please enter group name." });
    EXPECT_TRUE(target.calls.empty());
    EXPECT_TRUE(document.groupList.empty());

    messages.clear();
    Retype(dialog, D::IDC_GROUP_NAME, "Front Gate"); // no character rule for groups
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.calls[0].name, "Front Gate");
    EXPECT_FALSE(target.calls[0].overwrite);
    EXPECT_EQ(document.currentGroup->name, "Front Gate");
    EXPECT_EQ(document.currentGroup->cameras->at(0)->groupName, "Front Gate");
    ASSERT_EQ(GroupNames(), QStringList({ "Front Gate" }));
    EXPECT_EQ(document.groupList[0]->splitMode, 4);
}

TEST_F(SaveGroupDlgTest, OkAtOnceOnALoadedGroupReportsThatItsNameExists)
{
    AddSavedGroup("Night", 16);
    SetCurrentGroup("Night", 9);
    D dialog(document, target);
    dialog.SetCurrentName("Night");
    dialog.show();
    EXPECT_EQ(NameEdit(dialog)->text(), "Night");
    EXPECT_FALSE(NameEdit(dialog)->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>(dialog, D::IDC_NEW_GROUP)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(dialog, D::IDC_OVERWRITE)->isChecked());
    EXPECT_EQ(Control<QRadioButton>(dialog, D::IDC_NEW_GROUP)->text(), "New Group");
    EXPECT_EQ(Control<QRadioButton>(dialog, D::IDC_OVERWRITE)->text(), "Overwite");

    ClickOk(dialog);
    ASSERT_EQ(messages, std::vector<std::string>{ "The name \"Night\" already exists. Try another name." });
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(target.calls.empty());
    ASSERT_EQ(document.groupList.size(), 1u);
    EXPECT_EQ(document.groupList[0]->splitMode, 16);
}

TEST_F(SaveGroupDlgTest, OverwriteReplacesTheSavedGroup)
{
    AddSavedGroup("Alpha");
    AddSavedGroup("Night", 16);
    AddSavedGroup("Zulu");
    SetCurrentGroup("Night", 9);
    D dialog(document, target);
    dialog.SetCurrentName("Night");
    dialog.show();
    Click(dialog, D::IDC_NEW_GROUP);
    Click(dialog, D::IDC_OVERWRITE);
    EXPECT_EQ(NameEdit(dialog)->text(), "Night");
    EXPECT_FALSE(NameEdit(dialog)->isEnabled());
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.calls[0].name, "Night");
    EXPECT_TRUE(target.calls[0].overwrite);
    ASSERT_EQ(GroupNames(), QStringList({ "Alpha", "Night", "Zulu" }));
    EXPECT_EQ(document.groupList[1]->splitMode, 9);
    ASSERT_EQ(document.groupList[1]->cameras->size(), 1u);
    EXPECT_EQ(document.groupList[1]->cameras->at(0)->channelName, "Lobby-01");
}

TEST_F(SaveGroupDlgTest, NewGroupClearsTheFieldAndSavesUnderANewNameInByteOrder)
{
    AddSavedGroup("Alpha");
    AddSavedGroup("Night");
    AddSavedGroup("alpha");
    SetCurrentGroup("Night", 4);
    D dialog(document, target);
    dialog.SetCurrentName("Night");
    dialog.show();
    Click(dialog, D::IDC_OVERWRITE);
    Click(dialog, D::IDC_NEW_GROUP);
    EXPECT_EQ(NameEdit(dialog)->text(), "");
    EXPECT_TRUE(NameEdit(dialog)->isEnabled());

    // Another saved group's name is refused too, with that name in the text.
    QTest::keyClicks(NameEdit(dialog), "Alpha");
    ClickOk(dialog);
    ASSERT_EQ(messages, std::vector<std::string>{ "The name \"Alpha\" already exists. Try another name." });
    EXPECT_EQ(document.currentGroup->name, "Night");

    messages.clear();
    Retype(dialog, D::IDC_GROUP_NAME, "Zeta");
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_FALSE(target.calls[0].overwrite);
    EXPECT_EQ(GroupNames(), QStringList({ "Alpha", "Night", "Zeta", "alpha" }));
    EXPECT_EQ(document.currentGroup->name, "Zeta");
}

TEST_F(SaveGroupDlgTest, CancelChangesNothing)
{
    AddSavedGroup("Night");
    SetCurrentGroup("Night", 9);
    D dialog(document, target);
    dialog.SetCurrentName("Night");
    dialog.show();
    Click(dialog, D::IDC_OVERWRITE);
    Click(dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(target.calls.empty());
    ASSERT_EQ(document.groupList.size(), 1u);
    EXPECT_EQ(document.groupList[0]->splitMode, 16);
}

} // namespace
