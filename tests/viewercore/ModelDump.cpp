// Test tool: writes sample settings files of the three viewers, and prints a
// canonical dump of a settings file as our reader sees it. vyrdecode.py
// prints the same dump with its own decoder; the two must agree.
#include "viewercore/model/SettingsDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <string>

namespace {

std::string Quote(const QString& text)
{
    std::string out = "\"";
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\') {
            out += char(u);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(u));
            out += buffer;
        }
    }
    return out + "\"";
}

std::string Octets(const std::array<uint8_t, 4>& o)
{
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." + std::to_string(o[3]);
}

void DumpGroup(const CGroup& g)
{
    std::printf("group name=%s split=%d format=%d motion=%d sensor=%d forced=%d disk=%d beep=%d auto=%d\n",
        Quote(g.name).c_str(), g.splitMode, g.recordingFileFormat, g.motionRecordingTime, g.sensorRecordingTime,
        g.forcedRecordingTime, g.diskSpaceToRemain, g.beep, g.autoConnecting);
    std::string flags;
    for (int c = 0; c < CGroup::kCellCount; ++c)
        flags += " " + std::to_string(g.motionRecord[c]) + "," + std::to_string(g.sensorRecord[c]) + "," + std::to_string(g.scheduleRecord[c]);
    std::printf("flags%s\n", flags.c_str());
    for (int c = 0; c < CGroup::kCellCount; ++c)
        for (int d = 0; d < CGroup::kDayRows; ++d)
            for (int h = 0; h < CGroup::kHours; ++h)
                if (g.schedule[c][d][h])
                    std::printf("hour cell=%d day=%d hour=%d value=%d\n", c, d, h, g.schedule[c][d][h]);
    if (!g.cameras) {
        std::printf("cameras null\n");
        return;
    }
    std::printf("cameras %zu\n", g.cameras->size());
    for (const auto& k : *g.cameras)
        std::printf("camera deviceName=%s channelName=%s channelType=%d addressType=%d addressText=%s octets=%s port=%d "
                    "audioMode=%d loginId=%s password=%s savePassword=%d channelNumber=%d cell=%d deviceKind=%d groupName=%s\n",
            Quote(k->deviceName).c_str(), Quote(k->channelName).c_str(), k->channelType, k->addressType,
            Quote(k->addressText).c_str(), Octets(k->octets).c_str(), k->port, k->audioMode, Quote(k->loginId).c_str(),
            Quote(k->password).c_str(), k->savePassword, k->channelNumber, k->cell, k->deviceKind, Quote(k->groupName).c_str());
}

void DumpCurrent(const SettingsDocument& doc)
{
    if (doc.currentGroup) {
        std::printf("current\n");
        DumpGroup(*doc.currentGroup);
    } else {
        std::printf("current null\n");
    }
}

int Dump(ViewerVariant variant, const QString& path)
{
    QFileInfo info(path);
    SettingsDocument doc(variant, info.absolutePath());
    SettingsFile file = SettingsFile::DeviceList;
    bool found = false;
    for (SettingsFile f : { SettingsFile::DeviceList, SettingsFile::Groups, SettingsFile::HandOver,
                            SettingsFile::WindowPlacement, SettingsFile::BackupSettings, SettingsFile::EventSettings })
        if (SettingsDocument::FileName(f) == info.fileName()) {
            file = f;
            found = true;
        }
    if (!found) {
        std::fprintf(stderr, "unknown settings file %s\n", qPrintable(path));
        return 2;
    }
    const auto result = doc.LoadFile(file);
    std::printf("stamp %u\n", doc.settingsStamp);
    switch (file) {
    case SettingsFile::DeviceList:
        std::printf("devices %zu\n", doc.deviceList.size());
        for (const auto& d : doc.deviceList) {
            std::printf("dvr name=%s channelType=%d addressType=%d addressText=%s octets=%s port=%d audioMode=%d "
                        "loginId=%s password=%s savePassword=%d deviceKind=%d reservedA=%u reservedB=%u\n",
                Quote(d->name).c_str(), d->channelType, d->addressType, Quote(d->addressText).c_str(),
                Octets(d->octets).c_str(), d->port, d->audioMode, Quote(d->loginId).c_str(), Quote(d->password).c_str(),
                d->savePassword, d->deviceKind, unsigned(d->reservedA), unsigned(d->reservedB));
            std::printf("channels %zu\n", d->channels.size());
            for (const auto& c : d->channels)
                std::printf("channel name=%s number=%d\n", Quote(c->name).c_str(), c->number);
        }
        break;
    case SettingsFile::Groups:
        std::printf("recordingDirectory=%s\ncaptureDirectory=%s\n", Quote(doc.recordingDirectory).c_str(), Quote(doc.captureDirectory).c_str());
        std::printf("groups %zu\n", doc.groupList.size());
        for (const auto& g : doc.groupList)
            DumpGroup(*g);
        DumpCurrent(doc);
        break;
    case SettingsFile::HandOver:
        std::printf("recordingDirectory=%s\ncaptureDirectory=%s\n", Quote(doc.recordingDirectory).c_str(), Quote(doc.captureDirectory).c_str());
        std::printf("handOver format=%d forced=%d disk=%d auto=%d\n", doc.currentGroup->recordingFileFormat,
            doc.currentGroup->forcedRecordingTime, doc.currentGroup->diskSpaceToRemain, doc.currentGroup->autoConnecting);
        break;
    case SettingsFile::WindowPlacement:
        std::printf("rect %d %d %d %d\nstyle %u\n", doc.windowRect.left, doc.windowRect.top, doc.windowRect.right,
            doc.windowRect.bottom, doc.windowStyle);
        break;
    case SettingsFile::BackupSettings:
        DumpCurrent(doc);
        break;
    case SettingsFile::EventSettings: {
        const auto& e = doc.eventSettings;
        std::printf("databaseDirectory=%s\nsearchDatabaseDirectory=%s\n", Quote(doc.databaseDirectory).c_str(),
            Quote(doc.searchDatabaseDirectory).c_str());
        std::printf("words %u %u %u", e.maximumPolling, e.intervalNumber, e.intervalUnit);
        for (uint16_t w : e.eventWords)
            std::printf(" %u", w);
        std::printf("\n");
        break;
    }
    }
    if (result != SettingsDocument::LoadResult::Loaded)
        std::printf("damaged\n");
    return 0;
}

std::unique_ptr<CCamera> MakeCamera(const CDVR& dvr, int channelIndex, int cell, const QString& groupName)
{
    auto k = CCamera::ForChannel(dvr, *dvr.channels.at(channelIndex), cell);
    k->groupName = groupName;
    return k;
}

std::unique_ptr<CGroup> MakeGroup(ViewerVariant variant, const QString& name, const CDVR& dvr, int seed)
{
    auto g = std::make_unique<CGroup>(variant);
    g->name = name;
    g->splitMode = int16_t(seed % 2 ? 9 : 36);
    g->recordingFileFormat = int16_t(seed % 2);
    g->motionRecordingTime = int16_t(seed % 10);
    g->diskSpaceToRemain = int16_t(seed % 6);
    g->beep = 1;
    for (int c = 0; c < CGroup::kCellCount; ++c) {
        g->motionRecord[c] = int16_t((c + seed) % 2);
        g->sensorRecord[c] = int16_t((c + seed) % 3 == 0);
        g->scheduleRecord[c] = int16_t(c % 5 == 0);
    }
    // A few hours, so a swapped day and hour shows up.
    g->schedule[seed % 64][1][13] = 1;
    g->schedule[63][7][0] = 1;
    g->schedule[0][0][23] = 1;
    for (int i = 0; i < 3; ++i)
        g->cameras->push_back(MakeCamera(dvr, i, i * 3 + seed, name));
    return g;
}

bool SaveAll(SettingsDocument& doc)
{
    const auto report = doc.SaveSettingsFiles();
    if (!report.ok())
        std::fprintf(stderr, "%s\n", qPrintable(report.message));
    return report.ok();
}

int Write(const QString& root)
{
    QDir().mkpath(root + "/network");
    QDir().mkpath(root + "/backup");
    QDir().mkpath(root + "/event");
    QDir().mkpath(root + "/big");

    SettingsDocument net(ViewerVariant::Network, root + "/network");
    net.deviceList.push_back(std::make_unique<CDVR>("A", 0, 0, "", 0, std::array<uint8_t, 4>{ 1, 2, 3, 4 }, 9310, 1, 0, "Guest", "", 1));
    auto lobby = std::make_unique<CDVR>(QString::fromUtf8("Lobby-\u00dc\u20ac"), 2, 2, "Cam", 1,
        std::array<uint8_t, 4>{ 192, 168, 0, 255 }, 65535, 3, 2, QString::fromUtf8("\u7ba1\u7406"), QString(300, QChar('p')), 0);
    lobby->reservedA = 1;
    lobby->reservedB = 2;
    net.deviceList.push_back(std::move(lobby));
    net.deviceList.push_back(std::make_unique<CDVR>("Big_64", 6, 1, "", 0, std::array<uint8_t, 4>{ 10, 0, 0, 1 }, 9201, 1, 1, "admin", "secret", 1));
    net.recordingDirectory = QString::fromUtf8("/srv/Aufnahmen \u00e4");
    net.captureDirectory = "/tmp/capture";
    net.groupList.push_back(MakeGroup(ViewerVariant::Network, "First", *net.deviceList[1], 1));
    net.groupList.push_back(MakeGroup(ViewerVariant::Network, QString(260, QChar(0x263A)), *net.deviceList[2], 2));
    net.currentGroup = MakeGroup(ViewerVariant::Network, "", *net.deviceList[2], 4);
    net.windowRect = { -4, -4, 1028, 772 };
    net.windowStyle = 0x14CF0000;
    if (!SaveAll(net))
        return 1;

    SettingsDocument backup(ViewerVariant::Backup, root + "/backup");
    backup.deviceList.push_back(std::make_unique<CDVR>("Shop", 1, 0, "", 0, std::array<uint8_t, 4>{ 127, 0, 0, 1 }, 9310, 1, 1, "Guest", "pw", 1));
    backup.deviceList[0]->SetReservedWord(0xDEADBEEF);
    backup.currentGroup = MakeGroup(ViewerVariant::Backup, "", *backup.deviceList[0], 0);
    backup.windowStyle = 2;
    if (!SaveAll(backup))
        return 1;

    SettingsDocument event(ViewerVariant::Event, root + "/event");
    for (int i = 0; i < 5; ++i) {
        event.deviceList.push_back(std::make_unique<CDVR>(QString("Site_%1").arg(i), i % 4, 0, "", i % 2,
            std::array<uint8_t, 4>{ 10, 1, 1, uint8_t(i) }, 9310 + i, 1, 0, "Guest", "", 1));
        event.deviceList.back()->SetPollingFlag(uint16_t(i % 2));
        event.deviceList.back()->reservedB = uint16_t(0x8000 + i);
    }
    event.databaseDirectory = "/var/db";
    event.searchDatabaseDirectory = "";
    event.eventSettings.eventWords = { 0, 1, 2, 0, 1, 2, 0, 1 };
    event.windowStyle = 3;
    if (!SaveAll(event))
        return 1;

    // The long forms: devices without channels until the index passes 0x7FFF,
    // so the channel class and every reference to it take the long tag; a
    // count and a string past 0xFFFE.
    SettingsDocument big(ViewerVariant::Network, root + "/big");
    for (int i = 0; i < 16400; ++i)
        big.deviceList.push_back(std::make_unique<CDVR>(QString("D%1").arg(i), 7, 0, "", 0, std::array<uint8_t, 4>{}, 1, 1, 0, "", "", 0));
    auto huge = std::make_unique<CDVR>(QString(70000, QChar('x')), 0, 0, "", 0, std::array<uint8_t, 4>{}, 1, 1, 0, "", "", 0);
    for (int i = 0; i < 70000; ++i)
        huge->channels.push_back(std::make_unique<CChannel>(QString::number(i), i));
    big.deviceList.push_back(std::move(huge));
    return big.SaveFile(SettingsFile::DeviceList) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "write")
        return Write(args[2]);
    if (args.size() == 4 && args[1] == "dump") {
        const ViewerVariant variant = args[2] == "backup" ? ViewerVariant::Backup
            : args[2] == "event"                         ? ViewerVariant::Event
                                                         : ViewerVariant::Network;
        return Dump(variant, args[3]);
    }
    std::fprintf(stderr, "usage: %s write DIR | dump network|backup|event FILE\n", argv[0]);
    return 2;
}
