#include "DialogFixture.h"

#include "viewercore/dialogs/CPropertyDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>

namespace {

using D = CPropertyDlg;

const std::vector<int> kInputs = { D::IDC_CHANNEL_NAME, D::IDC_CHANNEL_NUMBER, D::IDC_PORT, D::IDC_DVR_NAME,
                                   D::IDC_CHANNEL_TYPE, D::IDC_ADDRESS, D::IDC_LOGIN_ID, D::IDC_PASSWORD,
                                   D::IDC_SAVE_PASSWORD, D::IDC_STATIC_IP, D::IDC_LOOKUP, D::IDC_AUDIO_DISABLE,
                                   D::IDC_AUDIO_SINGLE, D::IDC_AUDIO_TWO_WAY };

class PropertyDlgTest : public DialogFixture {
protected:
    QString Text(QWidget& dialog, int id) { return Control<QLineEdit>(dialog, id)->text(); }
    bool Checked(QWidget& dialog, int id) { return Control<QAbstractButton>(dialog, id)->isChecked(); }
    QComboBox* Combo(QWidget& dialog) { return Control<QComboBox>(dialog, D::IDC_CHANNEL_TYPE); }

    // Types a DVR into an add dialog and presses OK.
    void TypeNewDvr(D& dialog, const QString& name, int type, const QString& channelName = QString())
    {
        Retype(dialog, D::IDC_DVR_NAME, name);
        Retype(dialog, D::IDC_CHANNEL_NAME, channelName);
        Combo(dialog)->setCurrentIndex(type);
        ClickOk(dialog);
    }

    CGroup* AddGroupWithCamera(const QString& groupName)
    {
        auto group = std::make_unique<CGroup>();
        group->name = groupName;
        for (int i = 0; i < 2; ++i) {
            auto camera = std::make_unique<CCamera>();
            camera->deviceName = "Lobby";
            camera->channelName = QString("Lobby-0%1").arg(i + 1);
            camera->channelType = 2;
            camera->deviceKind = 0;
            camera->addressType = 0;
            camera->octets = { 172, 16, 0, uint8_t(10 + i) };
            camera->addressText = QString("172.16.0.%1").arg(10 + i);
            camera->port = 9500;
            camera->channelNumber = i + 1;
            camera->audioMode = 1;
            camera->cell = i + 3;
            camera->loginId = "viewer";
            camera->password = "pw";
            camera->savePassword = 0;
            group->cameras->push_back(std::move(camera));
        }
        return site::AddGroup(document, std::move(group));
    }
};

TEST_F(PropertyDlgTest, AddModeOpensWithItsDefaults)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Add DVR");
    EXPECT_EQ(dialog.objectName(), "133");
    EXPECT_EQ(Control<QLabel>(dialog, D::IDC_NAME_LABEL)->text(), "           DVR Name");
    QComboBox* combo = Combo(dialog);
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), "1 channel");
    EXPECT_EQ(combo->itemText(1), "4 channels");
    EXPECT_EQ(combo->itemText(2), "8 channels");
    EXPECT_EQ(combo->itemText(3), "16 channels");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(Text(dialog, D::IDC_DVR_NAME), "");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NAME), "");
    EXPECT_EQ(Text(dialog, D::IDC_LOGIN_ID), "Guest");
    EXPECT_EQ(Text(dialog, D::IDC_PASSWORD), "");
    EXPECT_EQ(Control<QLineEdit>(dialog, D::IDC_PASSWORD)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Text(dialog, D::IDC_PORT), "9310");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NUMBER), "1");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "0.0.0.0");
    EXPECT_TRUE(Checked(dialog, D::IDC_SAVE_PASSWORD));
    EXPECT_TRUE(Checked(dialog, D::IDC_STATIC_IP));
    EXPECT_FALSE(Checked(dialog, D::IDC_LOOKUP));
    EXPECT_TRUE(Checked(dialog, D::IDC_AUDIO_DISABLE));
    EXPECT_TRUE(Control<QTabBar>(dialog, D::IDC_DEVICE_KIND)->isHidden());
    EXPECT_FALSE(Control<QLineEdit>(dialog, D::IDC_DVR_NAME)->isReadOnly());
    for (int id : kInputs)
        EXPECT_TRUE(Control<QWidget>(dialog, id)->isEnabled()) << id;
    EXPECT_EQ(Control<QAbstractButton>(dialog, D::IDC_STATIC_IP)->text(), "Static IP");
    EXPECT_EQ(Control<QAbstractButton>(dialog, D::IDC_LOOKUP)->text(), "QUORIX");
    EXPECT_EQ(Control<QAbstractButton>(dialog, D::IDC_AUDIO_TWO_WAY)->text(), "Two-way");
    EXPECT_EQ(Control<QAbstractButton>(dialog, D::IDC_SAVE_PASSWORD)->text(), "Save Password");
}

TEST_F(PropertyDlgTest, AddedDvrGetsItsChannelsAndTypedSettings)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    Retype(dialog, D::IDC_ADDRESS, "192.168.1.20");
    Retype(dialog, D::IDC_PORT, "9320");
    Retype(dialog, D::IDC_CHANNEL_NUMBER, "3");
    Retype(dialog, D::IDC_LOGIN_ID, "admin");
    Retype(dialog, D::IDC_PASSWORD, "1234");
    Click(dialog, D::IDC_SAVE_PASSWORD);
    Click(dialog, D::IDC_AUDIO_TWO_WAY);
    TypeNewDvr(dialog, "Lobby", 2);

    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(document.deviceList.size(), 1u);
    CDVR* dvr = document.deviceList[0].get();
    EXPECT_EQ(dialog.GetResult(), dvr);
    EXPECT_EQ(dvr->name, "Lobby");
    EXPECT_EQ(dvr->channelType, 2);
    EXPECT_EQ(dvr->deviceKind, 0);
    EXPECT_EQ(dvr->addressType, 0);
    EXPECT_EQ(dvr->addressText, "192.168.1.20");
    EXPECT_EQ(dvr->octets, (std::array<uint8_t, 4>{ 192, 168, 1, 20 }));
    EXPECT_EQ(dvr->port, 9320);
    EXPECT_EQ(dvr->channel, 3);
    EXPECT_EQ(dvr->audioMode, 2);
    EXPECT_EQ(dvr->loginId, "admin");
    EXPECT_EQ(dvr->password, "1234");
    EXPECT_EQ(dvr->savePassword, 0);
    ASSERT_EQ(dvr->channels.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(dvr->channels[size_t(i)]->name, QString::asprintf("Lobby-%.2d", i + 1));
        EXPECT_EQ(dvr->channels[size_t(i)]->number, i + 1);
    }
}

TEST_F(PropertyDlgTest, ChannelNameIsTheBaseOfTheChannelNames)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    TypeNewDvr(dialog, "Store", 1, "Cam");
    ASSERT_EQ(document.deviceList.size(), 1u);
    const auto& channels = document.deviceList[0]->channels;
    ASSERT_EQ(channels.size(), 4u);
    EXPECT_EQ(channels[0]->name, "Cam-01");
    EXPECT_EQ(channels[3]->name, "Cam-04");

    D sixteen(document, D::ModeAddDvr);
    sixteen.show();
    TypeNewDvr(sixteen, "Yard", 3);
    ASSERT_NE(site::FindDvr(document, "Yard"), nullptr);
    EXPECT_EQ(site::FindDvr(document, "Yard")->channels.size(), 17u);
    EXPECT_EQ(site::FindDvr(document, "Yard")->channels.back()->name, "Yard-17");
}

TEST_F(PropertyDlgTest, MissingOrBadNamesKeepTheDialogOpen)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    struct Case { const char* name; const char* message; };
    const Case cases[] = {
        { "", "Please, enter DVR Name!" },
        { "   ", "Please, enter DVR Name!" },
        { "Front Door", "You can use only letters, numbers, hyphens (-), and underscores (_).\r\n"
                        "Special characters or accented letters are not allowed." },
        { "caf\xc3\xa9", dialogtext::kNameRule },
        { "a.b", dialogtext::kNameRule },
    };
    for (const Case& c : cases) {
        messages.clear();
        TypeNewDvr(dialog, QString::fromUtf8(c.name), 0);
        ASSERT_EQ(messages.size(), 1u) << c.name;
        EXPECT_EQ(messages[0], c.message) << c.name;
        EXPECT_TRUE(dialog.isVisible()) << c.name;
        EXPECT_EQ(Text(dialog, D::IDC_DVR_NAME), QString::fromUtf8(c.name)) << "the typed name stays";
    }
    EXPECT_TRUE(document.deviceList.empty());
    EXPECT_EQ(dialog.GetResult(), nullptr);

    messages.clear();
    TypeNewDvr(dialog, "front_door-2", 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_NE(site::FindDvr(document, "front_door-2"), nullptr);
}

TEST_F(PropertyDlgTest, NameWithOuterBlanksIsStoredAsTyped)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    TypeNewDvr(dialog, " Gate ", 0);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(document.deviceList[0]->name, " Gate ");
    EXPECT_EQ(document.deviceList[0]->channels[0]->name, " Gate -01");
}

TEST_F(PropertyDlgTest, DuplicateNamesAreRefusedButOtherCaseIsNot)
{
    AddStoredDvr("Lobby", 0);
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    TypeNewDvr(dialog, "Lobby", 1);
    ASSERT_EQ(messages, std::vector<std::string>{ "Please enter another name" });
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(document.deviceList.size(), 1u);

    messages.clear();
    TypeNewDvr(dialog, "LOBBY", 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(document.deviceList.size(), 2u);
    EXPECT_EQ(dialog.GetResult(), site::FindDvr(document, "LOBBY"));
}

TEST_F(PropertyDlgTest, NewDvrsGoInByteOrderOfTheirNames)
{
    for (const char* name : { "alpha", "Zeta", "Mid" }) {
        D dialog(document, D::ModeAddDvr);
        dialog.show();
        TypeNewDvr(dialog, name, 0);
    }
    ASSERT_EQ(document.deviceList.size(), 3u);
    EXPECT_EQ(document.deviceList[0]->name, "Mid");
    EXPECT_EQ(document.deviceList[1]->name, "Zeta");
    EXPECT_EQ(document.deviceList[2]->name, "alpha");
}

TEST_F(PropertyDlgTest, PortsOutsideOneTo65535AreRefused)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    Retype(dialog, D::IDC_DVR_NAME, "Lobby");
    for (const char* port : { "0", "65536", "99999", "", "abc" }) {
        messages.clear();
        Retype(dialog, D::IDC_PORT, port);
        ClickOk(dialog);
        ASSERT_EQ(messages.size(), 1u) << port;
        EXPECT_EQ(messages[0], "Please enter a port number between 1 and 65535.");
        EXPECT_TRUE(dialog.isVisible());
    }
    // Letters cannot be typed into the field at all.
    Retype(dialog, D::IDC_PORT, "9a3b1");
    EXPECT_EQ(Text(dialog, D::IDC_PORT), "931");
    EXPECT_TRUE(document.deviceList.empty());

    messages.clear();
    Retype(dialog, D::IDC_PORT, "65535");
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(document.deviceList[0]->port, 65535);

    D low(document, D::ModeAddDvr);
    low.show();
    Retype(low, D::IDC_PORT, "1");
    TypeNewDvr(low, "Low", 0);
    ASSERT_NE(site::FindDvr(document, "Low"), nullptr);
    EXPECT_EQ(site::FindDvr(document, "Low")->port, 1);
}

TEST_F(PropertyDlgTest, ChannelNumberMustBeANumber)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    Retype(dialog, D::IDC_CHANNEL_NUMBER, "x");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NUMBER), "");
    TypeNewDvr(dialog, "Lobby", 0);
    ASSERT_EQ(messages, std::vector<std::string>{ "Please enter a channel number between 0 and 99." });
    EXPECT_TRUE(document.deviceList.empty());
}

TEST_F(PropertyDlgTest, AddressOctetsStayWithin0To255)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    // Keys that would take an octet past 255 are refused as they are typed.
    Retype(dialog, D::IDC_ADDRESS, "256.300.1.1");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "25.30.1.1");
    Retype(dialog, D::IDC_ADDRESS, "1.2.3.4.5");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "1.2.3.45");
    Retype(dialog, D::IDC_ADDRESS, "10.-1.x.7");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "10.1..7");
    // Text placed without typing is read leniently.
    Control<QLineEdit>(dialog, D::IDC_ADDRESS)->setText("999.1.x");
    TypeNewDvr(dialog, "Lobby", 0);
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(document.deviceList[0]->octets, (std::array<uint8_t, 4>{ 255, 1, 0, 0 }));
    EXPECT_EQ(document.deviceList[0]->addressText, "255.1.0.0");
}

TEST_F(PropertyDlgTest, LookupServiceHidesAddressAndPortButKeepsTheirValues)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    Retype(dialog, D::IDC_ADDRESS, "10.1.2.3");
    Retype(dialog, D::IDC_PORT, "9400");
    Click(dialog, D::IDC_LOOKUP);
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_ADDRESS)->isHidden());
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_PORT)->isHidden());
    EXPECT_FALSE(Control<QWidget>(dialog, D::IDC_CHANNEL_NUMBER)->isHidden());
    Click(dialog, D::IDC_STATIC_IP);
    EXPECT_FALSE(Control<QWidget>(dialog, D::IDC_ADDRESS)->isHidden());
    EXPECT_FALSE(Control<QWidget>(dialog, D::IDC_PORT)->isHidden());
    Click(dialog, D::IDC_LOOKUP);
    TypeNewDvr(dialog, "Remote", 0);
    ASSERT_EQ(document.deviceList.size(), 1u);
    const CDVR& dvr = *document.deviceList[0];
    EXPECT_EQ(dvr.addressType, 1);
    EXPECT_EQ(dvr.addressText, "10.1.2.3");
    EXPECT_EQ(dvr.port, 9400);
}

TEST_F(PropertyDlgTest, CancelLeavesTheDocumentAlone)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    Retype(dialog, D::IDC_DVR_NAME, "Lobby");
    Click(dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(document.deviceList.empty());
    EXPECT_EQ(dialog.GetResult(), nullptr);
}

TEST_F(PropertyDlgTest, DeviceKindTabRenamesTheNameLabel)
{
    D dialog(document, D::ModeAddDvr);
    dialog.show();
    QTabBar* tab = Control<QTabBar>(dialog, D::IDC_DEVICE_KIND);
    for (const char* kind : { "DVR", "IP Camera", "Video Server" })
        tab->addTab(kind);
    QLabel* label = Control<QLabel>(dialog, D::IDC_NAME_LABEL);
    tab->setCurrentIndex(2);
    EXPECT_EQ(label->text(), "Video Server Name");
    tab->setCurrentIndex(1);
    EXPECT_EQ(label->text(), "   IP Camera Name");
    TypeNewDvr(dialog, "Cam1", 0);
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(document.deviceList[0]->deviceKind, 1);
    tab->setCurrentIndex(0);
    EXPECT_EQ(label->text(), "           DVR Name");
}

TEST_F(PropertyDlgTest, RunsModallyThroughExec)
{
    D dialog(document, D::ModeAddDvr);
    QTimer::singleShot(0, &dialog, [&] {
        Retype(dialog, D::IDC_DVR_NAME, "Modal");
        ClickOk(dialog);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    ASSERT_NE(dialog.GetResult(), nullptr);
    EXPECT_EQ(dialog.GetResult()->name, "Modal");
}

TEST_F(PropertyDlgTest, EditDvrModeShowsTheStoredDvr)
{
    CDVR* dvr = AddStoredDvr("Lobby", 1, "10.0.0.5", 9400);
    dvr->deviceKind = 0;
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Lobby");
    dialog.SetChannelName("Lobby-03");
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Property Dialog");
    EXPECT_EQ(Control<QLabel>(dialog, D::IDC_NAME_LABEL)->text(), "DVR Name");
    EXPECT_TRUE(Control<QLineEdit>(dialog, D::IDC_DVR_NAME)->isReadOnly());
    EXPECT_TRUE(Control<QLineEdit>(dialog, D::IDC_CHANNEL_NAME)->isReadOnly());
    EXPECT_FALSE(Combo(dialog)->isEnabled());
    EXPECT_EQ(Combo(dialog)->currentIndex(), 1);
    EXPECT_EQ(Text(dialog, D::IDC_DVR_NAME), "Lobby");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NAME), "Lobby-03");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "10.0.0.5");
    EXPECT_EQ(Text(dialog, D::IDC_PORT), "9400");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NUMBER), "3");
    EXPECT_EQ(Text(dialog, D::IDC_LOGIN_ID), "admin");
    EXPECT_EQ(Text(dialog, D::IDC_PASSWORD), "secret");
    EXPECT_TRUE(Checked(dialog, D::IDC_SAVE_PASSWORD));
    EXPECT_TRUE(Checked(dialog, D::IDC_AUDIO_SINGLE));
    EXPECT_TRUE(Checked(dialog, D::IDC_STATIC_IP));
    for (int id : { D::IDC_PORT, D::IDC_ADDRESS, D::IDC_LOGIN_ID, D::IDC_AUDIO_TWO_WAY })
        EXPECT_TRUE(Control<QWidget>(dialog, id)->isEnabled()) << id;

    D noChannel(document, D::ModeEditDvr);
    noChannel.SetDvrName("Lobby");
    noChannel.show();
    EXPECT_EQ(Text(noChannel, D::IDC_CHANNEL_NUMBER), "0");
    EXPECT_EQ(Text(noChannel, D::IDC_CHANNEL_NAME), "");
}

TEST_F(PropertyDlgTest, EditDvrModeForAnUnknownDvrOpensWithDefaults)
{
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Ghost");
    dialog.show();
    EXPECT_EQ(Combo(dialog)->currentIndex(), -1);
    EXPECT_EQ(Text(dialog, D::IDC_LOGIN_ID), "Guest");
    EXPECT_EQ(Text(dialog, D::IDC_PORT), "9310");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NUMBER), "1");
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(document.deviceList.empty());
}

TEST_F(PropertyDlgTest, EditDvrOkUpdatesConnectionSettingsOnly)
{
    CDVR* dvr = AddStoredDvr("Lobby", 2, "10.0.0.5", 9400);
    dvr->deviceKind = 2;
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Lobby");
    dialog.SetChannelName("Lobby-07");
    dialog.show();
    Retype(dialog, D::IDC_ADDRESS, "192.168.0.9");
    Retype(dialog, D::IDC_PORT, "8000");
    Retype(dialog, D::IDC_CHANNEL_NUMBER, "2"); // the named channel's number wins
    Retype(dialog, D::IDC_LOGIN_ID, "root");
    Retype(dialog, D::IDC_PASSWORD, "new");
    Click(dialog, D::IDC_SAVE_PASSWORD);
    Click(dialog, D::IDC_AUDIO_TWO_WAY);
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(dvr, document.deviceList[0].get());
    EXPECT_EQ(dvr->octets, (std::array<uint8_t, 4>{ 192, 168, 0, 9 }));
    EXPECT_EQ(dvr->addressText, "192.168.0.9");
    EXPECT_EQ(dvr->port, 8000);
    EXPECT_EQ(dvr->channel, 7);
    EXPECT_EQ(dvr->loginId, "root");
    EXPECT_EQ(dvr->password, "new");
    EXPECT_EQ(dvr->savePassword, 0);
    EXPECT_EQ(dvr->audioMode, 2);
    EXPECT_EQ(dvr->name, "Lobby");
    EXPECT_EQ(dvr->channelType, 2);
    EXPECT_EQ(dvr->deviceKind, 2);
    ASSERT_EQ(dvr->channels.size(), 9u);
    EXPECT_EQ(dvr->channels[6]->name, "Lobby-07");

    // Without a named channel the typed number is kept.
    D plain(document, D::ModeEditDvr);
    plain.SetDvrName("Lobby");
    plain.show();
    Retype(plain, D::IDC_CHANNEL_NUMBER, "5");
    ClickOk(plain);
    EXPECT_EQ(dvr->channel, 5);
}

TEST_F(PropertyDlgTest, EditDvrOkForADvrDeletedMeanwhileDoesNothing)
{
    AddStoredDvr("Lobby", 0);
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Lobby");
    dialog.show();
    ASSERT_TRUE(site::RemoveDvrByName(document, "Lobby"));
    AddStoredDvr("Other", 0, "1.1.1.1", 1111);
    Retype(dialog, D::IDC_PORT, "7000");
    ClickOk(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(document.deviceList.size(), 1u);
    EXPECT_EQ(document.deviceList[0]->name, "Other");
    EXPECT_EQ(document.deviceList[0]->port, 1111);
}

TEST_F(PropertyDlgTest, EditingALookupDvrKeepsItsStoredAddressAndPort)
{
    CDVR* dvr = AddStoredDvr("Remote", 0, "10.9.8.7", 9555);
    dvr->addressType = 1;
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Remote");
    dialog.show();
    EXPECT_TRUE(Checked(dialog, D::IDC_LOOKUP));
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_ADDRESS)->isHidden());
    EXPECT_TRUE(Control<QWidget>(dialog, D::IDC_PORT)->isHidden());
    Retype(dialog, D::IDC_LOGIN_ID, "other");
    ClickOk(dialog);
    EXPECT_EQ(dvr->loginId, "other");
    EXPECT_EQ(dvr->addressType, 1);
    EXPECT_EQ(dvr->addressText, "10.9.8.7");
    EXPECT_EQ(dvr->port, 9555);

    // Switching to a fixed address shows the fields again with those values.
    D again(document, D::ModeEditDvr);
    again.SetDvrName("Remote");
    again.show();
    Click(again, D::IDC_STATIC_IP);
    EXPECT_FALSE(Control<QWidget>(again, D::IDC_ADDRESS)->isHidden());
    EXPECT_EQ(Text(again, D::IDC_ADDRESS), "10.9.8.7");
    EXPECT_EQ(Text(again, D::IDC_PORT), "9555");
    ClickOk(again);
    EXPECT_EQ(dvr->addressType, 0);
}

TEST_F(PropertyDlgTest, ReadOnlyFlagDisablesEveryInput)
{
    AddStoredDvr("Lobby", 1);
    D dialog(document, D::ModeEditDvr);
    dialog.SetDvrName("Lobby");
    dialog.SetReadOnly(true);
    dialog.show();
    for (int id : kInputs)
        EXPECT_FALSE(Control<QWidget>(dialog, id)->isEnabled()) << id;
    EXPECT_TRUE(Control<QWidget>(dialog, 1)->isEnabled());
    EXPECT_TRUE(Control<QWidget>(dialog, 2)->isEnabled());
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "10.0.0.5");
    // OK writes back what is shown, so the device is unchanged.
    ClickOk(dialog);
    const CDVR& dvr = *document.deviceList[0];
    EXPECT_EQ(dvr.addressText, "10.0.0.5");
    EXPECT_EQ(dvr.port, 9400);
    EXPECT_EQ(dvr.loginId, "admin");
    EXPECT_EQ(dvr.password, "secret");
    EXPECT_EQ(dvr.audioMode, 1);
}

TEST_F(PropertyDlgTest, EditCameraModeShowsAndUpdatesTheGroupsCamera)
{
    CGroup* group = AddGroupWithCamera("Night");
    D dialog(document, D::ModeEditCamera);
    dialog.SetDvrName("Night");
    dialog.SetChannelName("Lobby-02");
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Property Dialog");
    EXPECT_EQ(Control<QLabel>(dialog, D::IDC_NAME_LABEL)->text(), "Group Name");
    EXPECT_TRUE(Control<QLineEdit>(dialog, D::IDC_DVR_NAME)->isReadOnly());
    EXPECT_TRUE(Control<QLineEdit>(dialog, D::IDC_CHANNEL_NAME)->isReadOnly());
    EXPECT_FALSE(Combo(dialog)->isEnabled());
    EXPECT_EQ(Combo(dialog)->currentIndex(), 2);
    EXPECT_EQ(Text(dialog, D::IDC_DVR_NAME), "Night");
    EXPECT_EQ(Text(dialog, D::IDC_ADDRESS), "172.16.0.11");
    EXPECT_EQ(Text(dialog, D::IDC_PORT), "9500");
    EXPECT_EQ(Text(dialog, D::IDC_CHANNEL_NUMBER), "2");
    EXPECT_EQ(Text(dialog, D::IDC_LOGIN_ID), "viewer");
    EXPECT_FALSE(Checked(dialog, D::IDC_SAVE_PASSWORD));
    EXPECT_TRUE(Checked(dialog, D::IDC_AUDIO_SINGLE));

    Retype(dialog, D::IDC_ADDRESS, "172.16.5.5");
    Retype(dialog, D::IDC_PORT, "9600");
    Retype(dialog, D::IDC_CHANNEL_NUMBER, "4");
    Retype(dialog, D::IDC_PASSWORD, "pw2");
    Click(dialog, D::IDC_AUDIO_DISABLE);
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    const CCamera& edited = *group->cameras->at(1);
    EXPECT_EQ(edited.addressText, "172.16.5.5");
    EXPECT_EQ(edited.octets, (std::array<uint8_t, 4>{ 172, 16, 5, 5 }));
    EXPECT_EQ(edited.port, 9600);
    EXPECT_EQ(edited.channelNumber, 4);
    EXPECT_EQ(edited.password, "pw2");
    EXPECT_EQ(edited.audioMode, 0);
    EXPECT_EQ(edited.cell, 4);
    EXPECT_EQ(edited.deviceName, "Lobby");
    const CCamera& other = *group->cameras->at(0);
    EXPECT_EQ(other.addressText, "172.16.0.10");
    EXPECT_EQ(other.port, 9500);
    EXPECT_EQ(other.password, "pw");
}

TEST_F(PropertyDlgTest, EditCameraChannelNumberMustPickOneOf64Channels)
{
    CGroup* group = AddGroupWithCamera("Night");
    D dialog(document, D::ModeEditCamera);
    dialog.SetDvrName("Night");
    dialog.SetChannelName("Lobby-01");
    dialog.show();
    for (const char* number : { "0", "65", "" }) {
        messages.clear();
        Retype(dialog, D::IDC_CHANNEL_NUMBER, number);
        ClickOk(dialog);
        ASSERT_EQ(messages, std::vector<std::string>{ "Please enter a channel number between 1 and 64." }) << number;
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_EQ(group->cameras->at(0)->channelNumber, 1);
    messages.clear();
    Retype(dialog, D::IDC_CHANNEL_NUMBER, "64");
    ClickOk(dialog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(group->cameras->at(0)->channelNumber, 64);
}

TEST_F(PropertyDlgTest, EditCameraModeForAnUnknownCameraChangesNothing)
{
    CGroup* group = AddGroupWithCamera("Night");
    for (const auto& [groupName, channelName] : { std::pair<QString, QString>{ "Night", "Nope-01" },
                                                  std::pair<QString, QString>{ "Day", "Lobby-01" } }) {
        D dialog(document, D::ModeEditCamera);
        dialog.SetDvrName(groupName);
        dialog.SetChannelName(channelName);
        dialog.show();
        EXPECT_EQ(Text(dialog, D::IDC_LOGIN_ID), "Guest");
        EXPECT_EQ(Text(dialog, D::IDC_PORT), "9310");
        Retype(dialog, D::IDC_PORT, "1234");
        ClickOk(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    for (const auto& camera : *group->cameras)
        EXPECT_EQ(camera->port, 9500);
}

} // namespace
