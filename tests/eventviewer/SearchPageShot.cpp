// The event viewer with its search page open after a search, for a
// screenshot under Xvfb: makes a program directory with three DVRs and their
// event databases in DIR, starts the viewer's frame there, opens the search
// page, searches a day of every event type and prints "ready" once the list
// is filled; it stays open for SECONDS so the screen can be taken.
//   eventviewer_search_shot DIR [SECONDS]
#include "EventViewer/CEventViewerDoc.h"
#include "EventViewer/CMainFrame.h"
#include "EventViewer/event/EventDatabase.h"
#include "EventViewer/search/CEventSearchDlg.h"
#include "EventViewer/view/CVyrNVRView.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QTimeEdit>
#include <QTimer>

#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: eventviewer_search_shot DIR [SECONDS]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString directory = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;
    QDir::setCurrent(directory);
    const QString db = QDir(directory).filePath("DB");
    QDir().mkpath(db);
    {
        SettingsDocument doc(ViewerVariant::Event, directory);
        doc.OnNewDocument();
        std::mt19937 random(3);
        const char* names[] = {"Lobby", "Parking", "Warehouse"};
        for (int d = 0; d < 3; ++d) {
            auto dvr = std::make_unique<CDVR>(names[d], 3, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                              std::array<uint8_t, 4>{127, 0, 0, 1}, 9000 + d, 0, 0, "admin", "", 1);
            dvr->SetPollingFlag(1);
            doc.deviceList.push_back(std::move(dvr));
            std::vector<EventRecord> records;
            for (int k = 0; k < 400; ++k) {
                EventRecord r;
                r.key = uint32_t(k + 1);
                const int second = k * 211;
                r.packedTime = PackEventTime({2024, 5, 6, (second / 3600) % 24, (second / 60) % 60, second % 60});
                const uint16_t classes[] = {31, 32, 33, 33, 33, 34, 36, 36};
                r.eventClass = classes[random() % 8];
                r.subKind = uint8_t(r.eventClass == 33 ? 1 + random() % 3
                                    : r.eventClass == 34 ? 10 + random() % 2
                                    : r.eventClass == 36 ? (random() % 2 ? 22 : 23)
                                    : r.eventClass == 32 ? 192 : random() % 2);
                r.action = uint8_t(r.eventClass == 36 ? 20 + random() % 2 : r.eventClass == 32 ? 168 : 0);
                r.address3 = 1;
                r.address4 = uint8_t(10 + d);
                r.userClass = random() % 2 ? 15 : 3;
                r.channelMask = 1u << (random() % 16);
                records.push_back(r);
            }
            eventdb::AppendBatch(db, names[d], records);
        }
        doc.databaseDirectory = db;
        doc.searchDatabaseDirectory = db;
        doc.SaveSettingsFiles();
    }
    CVyrNVRDoc document;
    document.OnNewDocument();
    CMainFrame frame(&document, 0, directory);
    frame.show();
    frame.View()->OnInitialUpdate();
    frame.View()->OnCommand(IDC_SEARCH_PAGE);
    CEventSearchDlg* page = frame.View()->SearchPage();
    page->FromDay()->setDate(QDate(2024, 5, 6));
    page->ToDay()->setDate(QDate(2024, 5, 6));
    page->OnAllEvent();
    page->OnSearch();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (page->Searching())
            return;
        poll.stop();
        std::printf("ready %d\n", page->Results());
        std::fflush(stdout);
        QTimer::singleShot(seconds * 1000, [&] { frame.close(); });
    });
    poll.start(100);
    return app.exec();
}
