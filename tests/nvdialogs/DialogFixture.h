#pragma once
#include "netviewer/dialogs/DialogTexts.h"
#include "viewercore/dialogs/PropertyTexts.h"
#include "viewercore/model/SiteRoutines.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A document with no files behind it, and every message box recorded
// instead of shown.
class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousHandler_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&, unsigned) {
                messages.push_back(text);
                return platform::IDOK;
            });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previousHandler_); }

    template <typename W>
    static W* Control(QWidget& dialog, int id)
    {
        W* control = dialog.findChild<W*>(QString::number(id));
        EXPECT_NE(control, nullptr) << "control " << id;
        return control;
    }

    static void Retype(QWidget& dialog, int id, const QString& text)
    {
        QLineEdit* edit = Control<QLineEdit>(dialog, id);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        for (QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(edit, c.toLatin1());
            else // the key table knows ASCII only
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }

    // Clicks over the check mark, which is at the left of a button stretched
    // across its layout cell.
    static void Click(QWidget& dialog, int id)
    {
        QAbstractButton* button = Control<QAbstractButton>(dialog, id);
        const bool indicator = !button->inherits("QPushButton");
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier,
                          indicator ? QPoint(6, button->height() / 2) : button->rect().center());
    }
    static void ClickOk(QWidget& dialog) { Click(dialog, 1); }

    CDVR* AddStoredDvr(const QString& name, int type, const QString& address = "10.0.0.5", int port = 9400)
    {
        QStringList parts = address.split('.');
        std::array<uint8_t, 4> octets{};
        for (int i = 0; i < 4; ++i)
            octets[size_t(i)] = uint8_t(parts.value(i).toInt());
        return site::AddDvr(document, std::make_unique<CDVR>(name, type, 0, QString(), 0, octets, port, 1, 1,
                                                             "admin", "secret", 1));
    }

    SettingsDocument document{ ViewerVariant::Network, "/nonexistent-dialog-test-dir" };
    std::vector<std::string> messages;

private:
    platform::MessageBoxHandler previousHandler_;
};
