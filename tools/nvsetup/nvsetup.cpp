// Writes the network viewer's settings files for a demo or a test: DVRs at
// 127.0.0.1 and a current group whose cameras fill the cells in order, DVR
// after DVR, and connect at start-up.
//   nvsetup --dir DIR --port PORT [--port PORT2 ...] [--channels 16] [--name "Demo DVR"]
//           [--split 16] [--no-auto] [--schedule]
// With several ports the DVRs are named "<name> 1", "<name> 2", ...
// --schedule: every cell records by the schedule, all day every day.
#include "viewercore/model/SettingsDocument.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString dir = ".", name = "Demo DVR";
    std::vector<int> ports;
    int channels = 16, split = 16;
    bool autoConnect = true, schedule = false;
    for (int k = 1; k < argc; ++k) {
        const char* a = argv[k];
        auto next = [&]() -> const char* { return k + 1 < argc ? argv[++k] : ""; };
        if (!std::strcmp(a, "--dir"))
            dir = QString::fromLocal8Bit(next());
        else if (!std::strcmp(a, "--port"))
            ports.push_back(std::atoi(next()));
        else if (!std::strcmp(a, "--channels"))
            channels = std::atoi(next());
        else if (!std::strcmp(a, "--name"))
            name = QString::fromLocal8Bit(next());
        else if (!std::strcmp(a, "--split"))
            split = std::atoi(next());
        else if (!std::strcmp(a, "--no-auto"))
            autoConnect = false;
        else if (!std::strcmp(a, "--schedule"))
            schedule = true;
        else {
            std::fprintf(stderr, "usage: nvsetup --dir DIR --port PORT [--channels N] [--name NAME] [--split S] [--no-auto] [--schedule]\n");
            return 2;
        }
    }
    if (ports.empty())
        ports.push_back(9201);
    for (int port : ports)
        if (port < 1 || port > 65535) {
            std::fprintf(stderr, "nvsetup: bad port %d\n", port);
            return 2;
        }
    if (channels < 1 || channels > 64 || !CGroup::IsValidSplitMode(split)) {
        std::fprintf(stderr, "nvsetup: bad channel count or split\n");
        return 2;
    }
    // The smallest channel type that has the channels asked for.
    int type = 0;
    while (CDVR::GetChannelCount(type) < channels && CDVR::GetChannelCount(type + 1) > 0)
        ++type;
    SettingsDocument doc(ViewerVariant::Network, dir);
    doc.OnNewDocument();
    doc.deviceList.clear();
    auto group = std::make_unique<CGroup>(ViewerVariant::Network);
    group->splitMode = static_cast<int16_t>(split);
    group->autoConnecting = autoConnect ? 1 : 0;
    group->cameras.emplace();
    if (schedule) {
        group->scheduleRecord.fill(1);
        for (auto& days : group->schedule)
            for (auto& hours : days)
                hours.fill(1);
    }
    int cell = 0;
    for (std::size_t d = 0; d < ports.size(); ++d) {
        const QString dvrName = ports.size() == 1 ? name : QStringLiteral("%1 %2").arg(name).arg(d + 1);
        auto dvr = std::make_unique<CDVR>(dvrName, type, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                          std::array<uint8_t, 4>{127, 0, 0, 1}, ports[d], 0, 0, "Guest", "", 1);
        for (int k = 0; k < channels && k < static_cast<int>(dvr->channels.size()) && cell < 64; ++k, ++cell)
            group->cameras->push_back(CCamera::ForChannel(*dvr, *dvr->channels[k], cell));
        doc.deviceList.push_back(std::move(dvr));
    }
    doc.currentGroup = std::move(group);
    const SettingsDocument::SaveReport report = doc.SaveSettingsFiles();
    if (!report.ok()) {
        std::fprintf(stderr, "nvsetup: %s\n", qPrintable(report.failedFiles.join(", ")));
        return 1;
    }
    return 0;
}
