// Writes the network viewer's settings files for a demo or a test: one DVR
// at 127.0.0.1 and a current group whose cameras fill the first cells and
// connect at start-up.
//   nvsetup --dir DIR --port PORT [--channels 16] [--name "Demo DVR"] [--split 16] [--no-auto]
#include "viewercore/model/SettingsDocument.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString dir = ".", name = "Demo DVR";
    int port = 9201, channels = 16, split = 16;
    bool autoConnect = true;
    for (int k = 1; k < argc; ++k) {
        const char* a = argv[k];
        auto next = [&]() -> const char* { return k + 1 < argc ? argv[++k] : ""; };
        if (!std::strcmp(a, "--dir"))
            dir = QString::fromLocal8Bit(next());
        else if (!std::strcmp(a, "--port"))
            port = std::atoi(next());
        else if (!std::strcmp(a, "--channels"))
            channels = std::atoi(next());
        else if (!std::strcmp(a, "--name"))
            name = QString::fromLocal8Bit(next());
        else if (!std::strcmp(a, "--split"))
            split = std::atoi(next());
        else if (!std::strcmp(a, "--no-auto"))
            autoConnect = false;
        else {
            std::fprintf(stderr, "usage: nvsetup --dir DIR --port PORT [--channels N] [--name NAME] [--split S] [--no-auto]\n");
            return 2;
        }
    }
    if (port < 1 || port > 65535 || channels < 1 || channels > 64 || !CGroup::IsValidSplitMode(split)) {
        std::fprintf(stderr, "nvsetup: bad port, channel count or split\n");
        return 2;
    }
    // The smallest channel type that has the channels asked for.
    int type = 0;
    while (CDVR::GetChannelCount(type) < channels && CDVR::GetChannelCount(type + 1) > 0)
        ++type;
    SettingsDocument doc(ViewerVariant::Network, dir);
    doc.OnNewDocument();
    doc.deviceList.clear();
    auto dvr = std::make_unique<CDVR>(name, type, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                      std::array<uint8_t, 4>{127, 0, 0, 1}, port, 0, 0, "Guest", "", 1);
    auto group = std::make_unique<CGroup>(ViewerVariant::Network);
    group->splitMode = static_cast<int16_t>(split);
    group->autoConnecting = autoConnect ? 1 : 0;
    group->cameras.emplace();
    for (int k = 0; k < channels && k < static_cast<int>(dvr->channels.size()); ++k) {
        auto camera = std::make_unique<CCamera>();
        camera->deviceName = dvr->name;
        camera->deviceKind = dvr->deviceKind;
        camera->channelName = dvr->channels[k]->name;
        camera->channelType = dvr->channelType;
        camera->addressType = dvr->addressType;
        camera->addressText = dvr->addressText;
        camera->octets = dvr->octets;
        camera->port = dvr->port;
        camera->channelNumber = dvr->channels[k]->number;
        camera->cell = k;
        camera->loginId = dvr->loginId;
        camera->password = dvr->password;
        camera->savePassword = dvr->savePassword;
        group->cameras->push_back(std::move(camera));
    }
    doc.deviceList.push_back(std::move(dvr));
    doc.currentGroup = std::move(group);
    const SettingsDocument::SaveReport report = doc.SaveSettingsFiles();
    if (!report.ok()) {
        std::fprintf(stderr, "nvsetup: %s\n", qPrintable(report.failedFiles.join(", ")));
        return 1;
    }
    return 0;
}
