#include "CMainFrame.h"

#include "CZoPlayerView.h"

#include "platform/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QProcess>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace zoplayer {

namespace {

constexpr int kFrameWidth = 1024;
constexpr int kFrameHeight = 768;

// The panes' first texts, whose widths size them.
constexpr const char* kPaneTexts[kStatusPanes] = {
    "",
    "Athentication Status",
    "This is not an Athenticated Image !",
    "Machine ID",
    "EDIT qqqqqqqqqqqq     1",
    "Saved Date/Time",
    "EDIT                           2",
    "  ZOP64  Version 4.21",
};

} // namespace

CMainFrame::CMainFrame(const std::string& folder)
{
    setWindowTitle(QStringLiteral("Zo Player"));
    setObjectName(QStringLiteral("ZoPlayerFrame"));
    setMinimumSize(kFrameWidth, kFrameHeight);
    resize(kFrameWidth, kFrameHeight);
    QStatusBar* bar = statusBar();
    bar->setProperty("controlId", 0xE801);
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < kStatusPanes; ++i) {
        auto* label = new QLabel(QString::fromLatin1(kPaneTexts[i]), bar);
        label->setObjectName(QStringLiteral("pane%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(i == 0 ? 5 : label->fontMetrics().horizontalAdvance(label->text()) + 8);
        if (i == 0)
            bar->addWidget(label, 1);
        else
            bar->addPermanentWidget(label);
        panes_[static_cast<std::size_t>(i)] = label;
    }
    view_ = new CZoPlayerView(this, folder, [this](int pane, const QString& text) { SetPaneText(pane, text); });
    setCentralWidget(view_);

    // The frame has no menu: its commands sit in its context menu and on
    // their usual keys.
    auto* open = new QAction(QStringLiteral("&Open Folder..."), this);
    open->setObjectName(QStringLiteral("ID_FILE_OPEN"));
    open->setShortcuts({QKeySequence(QKeySequence::Open), QKeySequence(QKeySequence::New)});
    connect(open, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    auto* about = new QAction(QStringLiteral("&About ZoPlayer..."), this);
    about->setObjectName(QStringLiteral("ID_APP_ABOUT"));
    about->setShortcut(QKeySequence(QKeySequence::HelpContents));
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);
    addAction(open);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    chooseFolder = [](QWidget* parent) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("ZoPlayer"), QDir::currentPath());
    };
    playFolder = [](const QString& chosen) {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {chosen});
    };
}

void CMainFrame::OnFileOpen()
{
    const QString chosen = chooseFolder(this);
    if (chosen.isEmpty())
        return;
    playFolder(chosen);
    close();
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

bool EnterPlayerFolder(const char* argument, std::string* folder)
{
    // A file manager does not always start a program in its own folder.
    if (argument && ::chdir(argument) != 0) {
        platform::MessageBox(nullptr, std::string("Cannot open the folder ") + argument + ": " + std::strerror(errno),
                             "ZoPlayer");
        return false;
    }
    char path[4096];
    if (!::getcwd(path, sizeof path)) {
        platform::MessageBox(nullptr, "Cannot open the current folder", "ZoPlayer");
        return false;
    }
    *folder = path;
    return true;
}

CMainFrame::~CMainFrame() = default;

QString CMainFrame::PaneText(int pane) const
{
    if (pane < 0 || pane >= kStatusPanes)
        return {};
    return panes_[static_cast<std::size_t>(pane)]->text();
}

void CMainFrame::SetPaneText(int pane, const QString& text)
{
    if (pane >= 0 && pane < kStatusPanes)
        panes_[static_cast<std::size_t>(pane)]->setText(text);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About ZoPlayer"));
    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MediaPlay).pixmap(32, 32));
    layout->addWidget(icon);
    layout->addWidget(new QLabel(QStringLiteral("ZoPlayer Version 1.0"), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace zoplayer
