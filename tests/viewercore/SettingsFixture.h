#pragma once
// Helpers shared by the settings-file tests: a temporary directory and whole
// files as bytes.
#include "viewercore/model/SettingsDocument.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

inline std::vector<uint8_t> ReadWholeFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline void WriteWholeFile(const QString& path, const std::vector<uint8_t>& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())), qint64(bytes.size()));
}

// A one-DVR "device.vyr" written out by hand: DVR "A", type 0, fixed
// address 1.2.3.4, port 9310, "Guest", empty password, one channel "A-01".
inline std::vector<uint8_t> GoldenDeviceFile()
{
    return {
        0xB8, 0x68, 0x32, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00, 'C', 'O', 'b', 'L', 'i', 's', 't',
        0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00, 'C', 'D', 'V', 'R',
        0xFF, 0xFE, 0xFF, 0x01, 'A', 0x00, 0, 0, 0, 0, 0, 0, 0, 0,
        0xFF, 0xFE, 0xFF, 0x07, '1', 0, '.', 0, '2', 0, '.', 0, '3', 0, '.', 0, '4', 0, 0x01, 0x02, 0x03, 0x04,
        0x5E, 0x24, 0x00, 0x00, 0, 0, 0, 0,
        0xFF, 0xFE, 0xFF, 0x05, 'G', 0, 'u', 0, 'e', 0, 's', 0, 't', 0, 0xFF, 0xFE, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00,
        0x01, 0x80, 0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00, 'C', 'C', 'h', 'a', 'n', 'n', 'e', 'l',
        0xFF, 0xFE, 0xFF, 0x04, 'A', 0, '-', 0, '0', 0, '1', 0, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,
    };
}

inline std::unique_ptr<CDVR> GoldenDvr()
{
    return std::make_unique<CDVR>("A", 0, 0, "", 0, std::array<uint8_t, 4>{ 1, 2, 3, 4 }, 9310, 1, 0, "Guest", "", 1);
}

// A network viewer's document with two devices, two saved groups with
// cameras, a current group and a window placement.
inline void FillNetworkDocument(SettingsDocument& doc)
{
    doc.deviceList.push_back(GoldenDvr());
    doc.deviceList.push_back(std::make_unique<CDVR>("Lobby", 2, 1, "", 1, std::array<uint8_t, 4>{ 10, 0, 0, 9 }, 9201, 1, 2, "admin", "pw", 0));
    doc.recordingDirectory = "/data/rec";
    doc.captureDirectory = "/data/cap";
    for (int g = 0; g < 2; ++g) {
        auto group = std::make_unique<CGroup>();
        group->name = QString("Group%1").arg(g);
        group->splitMode = g ? 4 : 64;
        group->forcedRecordingTime = int16_t(5 - g);
        group->schedule[g][3][7] = 1;
        for (int c = 0; c < 3; ++c) {
            auto camera = std::make_unique<CCamera>();
            camera->deviceName = "Lobby";
            camera->channelName = QString("Lobby-%1").arg(c + 1, 2, 10, QChar('0'));
            camera->channelNumber = c + 1;
            camera->cell = c * 20;
            camera->groupName = group->name;
            group->cameras->push_back(std::move(camera));
        }
        doc.groupList.push_back(std::move(group));
    }
    doc.currentGroup = CGroup::CopyFrom(*doc.groupList[1], false);
    doc.currentGroup->recordingFileFormat = 1;
    doc.currentGroup->diskSpaceToRemain = 4;
    doc.currentGroup->autoConnecting = 1;
    doc.windowRect = { 10, 20, 1034, 788 };
    doc.windowStyle = 0x10000000;
}
