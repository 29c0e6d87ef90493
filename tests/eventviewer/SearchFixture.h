#pragma once
// The search page on event databases written by the monitor's writer: a
// temporary directory with the site list, a database per DVR and the page.
#include "EventViewer/event/EventDatabase.h"
#include "EventViewer/search/CEventSearchDlg.h"
#include "MessageHost.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDateEdit>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <set>

using testsupport::PumpUntil;

struct EventSpec {
    uint32_t key;
    uint16_t eventClass;
    uint8_t subKind = 0;
    uint8_t action = 0;
    uint32_t mask = 0;
    EventTime time{2024, 5, 6, 7, 8, 9};
    uint8_t userClass = 0;
    uint8_t address3 = 0;
    uint8_t address4 = 0;
};

inline EventRecord MakeRecord(const EventSpec& s)
{
    EventRecord r;
    r.key = s.key;
    r.packedTime = PackEventTime(s.time);
    r.eventClass = s.eventClass;
    r.subKind = s.subKind;
    r.action = s.action;
    r.channelMask = s.mask;
    r.userClass = s.userClass;
    r.address3 = s.address3;
    r.address4 = s.address4;
    return r;
}

class SearchFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        database = dir.filePath("DB");
        ASSERT_TRUE(QDir().mkpath(database));
        document = std::make_unique<SettingsDocument>(ViewerVariant::Event, dir.path());
        document->OnNewDocument();
        document->databaseDirectory = database;
        document->searchDatabaseDirectory = database;
        previousBoxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override
    {
        page.reset();
        platform::SetMessageBoxHandler(previousBoxes);
    }
    // A DVR of the site list, its records stored through the monitor's
    // writer (none: no file at all).
    void AddDvr(const QString& name, const std::vector<EventRecord>& records, bool checked = true)
    {
        auto dvr = std::make_unique<CDVR>(name, 3, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                          std::array<uint8_t, 4>{127, 0, 0, 1}, 9000, 0, 0, "admin", "", 1);
        dvr->SetPollingFlag(checked ? 1 : 0);
        document->deviceList.push_back(std::move(dvr));
        if (!records.empty()) {
            ASSERT_TRUE(eventdb::AppendBatch(database, name, records).Stored());
        }
    }
    void Open()
    {
        page = std::make_unique<CEventSearchDlg>(document.get(), [this] { ++saves; });
        page->resize(1100, 700);
        page->OnInitDialog();
        // Wide enough for every generated record.
        page->FromDay()->setDate(QDate(2000, 1, 1));
        page->ToDay()->setDate(QDate(2063, 12, 31));
    }
    void Check(int id, bool on = true) { page->Check(id)->setChecked(on); }
    void SetChannels(uint32_t mask)
    {
        for (int k = 0; k < 16; ++k)
            Check(IDC_FIRST_CHANNEL + k, (mask >> k) & 1);
    }
    void SetKind(int comboId, const QString& text) { page->Combo(comboId)->setCurrentText(text); }
    void SetWindow(const QDateTime& from, const QDateTime& to)
    {
        Check(IDC_USE_DATE);
        page->FromDay()->setDate(from.date());
        page->FromTime()->setTime(from.time());
        page->ToDay()->setDate(to.date());
        page->ToTime()->setTime(to.time());
    }
    // Runs a search to its end.
    bool Search(int timeoutMs = 30000)
    {
        page->OnSearch();
        return PumpUntil([this] { return !page->Searching(); }, timeoutMs);
    }
    std::vector<uint32_t> Keys() const
    {
        std::vector<uint32_t> keys;
        const SearchResultModel* m = page->ResultModel();
        for (int i = 0; i < m->rowCount(); ++i)
            keys.push_back(m->Text(i, SearchResultModel::kId).toUInt());
        return keys;
    }
    std::set<uint32_t> KeySet() const
    {
        const std::vector<uint32_t> k = Keys();
        return {k.begin(), k.end()};
    }

    QTemporaryDir dir;
    QString database;
    std::unique_ptr<SettingsDocument> document;
    std::unique_ptr<CEventSearchDlg> page;
    int saves = 0;
    platform::MessageBoxHandler previousBoxes;
    std::vector<std::string> boxes;
};
