#include "CMainFrame.h"

#include "CZoPlayerView.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

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
