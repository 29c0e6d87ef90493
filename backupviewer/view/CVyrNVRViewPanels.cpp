// The backup viewer's panels: the skinned buttons, slider and scroll bar
// around the cells, where they sit, and the skin painted behind them.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "viewercore/view/SiteTree.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/ViewSkin.h"

#include <QDir>
#include <QPainter>
#include <QScrollBar>

using namespace backupviewer;

namespace {

QImage LoadBitmap(const QString& name) { return QImage(QDir::current().filePath("image/" + name)); }

struct ButtonSpec {
    int id;
    int in, out;
    const char* caption;
    const char* tooltip;
};

const ButtonSpec kButtons[] = {
    {IDC_GO_NETWORK, kBitmapGoToNetworkViewerIn, kBitmapGoToNetworkViewerOut, "Network Viewer", "Go To Network Viewer"},
    {IDC_GO_EVENT, kBitmapGoToEventViewerIn, kBitmapGoToEventViewerOut, "Event Viewer", "Go To Event Viewer"},
    {IDC_SEARCH_DVR, kBitmapSearchDvrIn, kBitmapSearchDvrOut, "DVR", "Search DVR"},
    {IDC_SEARCH_LOCAL, kBitmapSearchLocalIn, kBitmapSearchLocalOut, "Local PC", "Search Local PC"},
    {IDC_ADD_DVR, kBitmapAddDvrIn, kBitmapAddDvrOut, "Add DVR", "Add DVR"},
    {IDC_PLACEHOLDER_1005, kBitmapSaveGroupIn, kBitmapSaveGroupOut, "-", kNotAvailable},
    // Functions this viewer does not offer: plain buttons that say so.
    {IDC_PLACEHOLDER_1030, 0, 0, "-", nullptr},
    {IDC_PLACEHOLDER_1102, 0, 0, "-", kNotAvailable},
    {IDC_PLACEHOLDER_1103, 0, 0, "-", kNotAvailable},
    {IDC_SOUND, kBitmapSoundIn, kBitmapSoundOut, "Snd", nullptr},
    {IDC_PLAY, kBitmapPlayIn, kBitmapPlayOut, ">", "Play"},
    {IDC_STOP, kBitmapStopIn, kBitmapStopOut, "[]", "Stop"},
    {IDC_PAUSE, kBitmapPauseIn, kBitmapPauseOut, "||", "Pause"},
    {IDC_REWIND, kBitmapRewindIn, kBitmapRewindOut, "<<", "Rewind"},
    {IDC_FAST_FORWARD, kBitmapFastForwardIn, kBitmapFastForwardOut, ">>", "Fast Foward"},
    {IDC_TIMELINE, kBitmapTimelineIn, kBitmapTimelineOut, "Timeline", nullptr},
    {IDC_LOCAL_RECORD, kBitmapLocalRecordIn, kBitmapLocalRecordOut, "Rec", "Local Record"},
    {IDC_CAPTURE, kBitmapCaptureIn, kBitmapCaptureOut, "Cap", "Capture"},
    {IDC_BACKUP, kBitmapBackupIn, kBitmapBackupOut, "Bak", "Backup"},
    {IDC_SPLIT_4, kBitmapSplit4In, kBitmapSplit4Out, "4", "4 Split Mode"},
    {IDC_SPLIT_6, kBitmapSplit6In, kBitmapSplit6Out, "6", "6 Split Mode"},
    {IDC_SPLIT_9, kBitmapSplit9In, kBitmapSplit9Out, "9", "9 Split Mode"},
    {IDC_SPLIT_10, kBitmapSplit10In, kBitmapSplit10Out, "10", "10 Split Mode"},
    {IDC_SPLIT_16, kBitmapSplit16In, kBitmapSplit16Out, "16", "16 Split Mode"},
    {IDC_SPLIT_36, kBitmapSplit36In, kBitmapSplit36Out, "36", "36 Split Mode"},
    {IDC_SPLIT_64, kBitmapSplit64In, kBitmapSplit64Out, "64", "64 Split Mode"},
    {IDC_FULL_SCREEN, kBitmapFullScreenIn, kBitmapFullScreenOut, "Full", "Full Screen Mode"},
    {IDC_NEXT_SPLIT, kBitmapNextSplitIn, kBitmapNextSplitOut, "Next", "Next Split Mode"},
};

} // namespace

void CVyrNVRView::CreateWidgets()
{
    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        if (spec.tooltip)
            button->SetTooltipText(spec.tooltip);
        const int id = spec.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        buttons_[id] = button;
    }
    slider_ = new CBitmapSlider(this, IDC_SPEAKER_VOLUME);
    slider_->setObjectName(QString::number(IDC_SPEAKER_VOLUME));
    slider_->SetBitmapChannel(viewer::SkinImage(kBitmapBackupVolumeChannel));
    slider_->SetBitmapThumb(viewer::SkinImage(kBitmapSliderThumb));
    slider_->SetRange(1, 100);
    slider_->SetPos(50);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setObjectName(QString::number(IDC_TIMELINE_SCROLL));
    scroll_->setRange(0, kSlotsPerDay);
    scroll_->hide();
    QObject::connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) { SetScrollRow(value); });
}

void CVyrNVRView::LoadSkin()
{
    skin_.leftTop = LoadBitmap("left_top_bv.bmp");
    skin_.leftLeft = LoadBitmap("left_left.bmp");
    skin_.leftRight = LoadBitmap("left_right.bmp");
    skin_.leftBottom = LoadBitmap("left_buttom.bmp");
    skin_.none = LoadBitmap("none_bv.bmp");
    skin_.top = LoadBitmap("top_bv.bmp");
    skin_.topStretch = LoadBitmap("top_stretch.bmp");
    skin_.bottomRight = LoadBitmap("bottom_right_bv.bmp");
    skin_.timelineLeft = LoadBitmap("timeline_left.bmp");
    skin_.timelineStretch = LoadBitmap("timeline_stretch.bmp");
    skin_.timelineRight = LoadBitmap("timeline_right.bmp");
    skin_.scrollArea = viewer::SkinImage(kBitmapTimelineScrollArea);
    skin_.scrollBack = viewer::SkinImage(kBitmapTimelineScrollBack);
}

void CVyrNVRView::ShowHandOverButtons(bool visible)
{
    Button(IDC_GO_NETWORK)->setVisible(visible);
    Button(IDC_GO_EVENT)->setVisible(visible);
}

void CVyrNVRView::PlaceWidgets()
{
    const int W = width(), H = height();
    auto place = [this](int id, int x, int y, int w, int h) {
        if (CButtonST* b = Button(id))
            b->setGeometry(x, y, w, h);
    };
    place(IDC_GO_NETWORK, 11, 41, 164, 24);
    place(IDC_GO_EVENT, 11, 69, 164, 24);
    place(IDC_SEARCH_DVR, 11, 97, 80, 24);
    place(IDC_SEARCH_LOCAL, 95, 97, 80, 24);
    // The left column's lower panel holds two rows: "Add DVR" and the first
    // unavailable function, then the other three unavailable ones.
    const int panelTop = H - kLeftBottomPanel - kLeftColumnBottom;
    place(IDC_ADD_DVR, 11, panelTop + 3, 80, 24);
    place(IDC_PLACEHOLDER_1005, 95, panelTop + 3, 80, 24);
    place(IDC_PLACEHOLDER_1030, 11, panelTop + 28, 52, 24);
    place(IDC_PLACEHOLDER_1102, 67, panelTop + 28, 52, 24);
    place(IDC_PLACEHOLDER_1103, 123, panelTop + 28, 52, 24);
    place(IDC_SOUND, 16, H - kLeftBottomPanel + 8, 30, 24);
    slider_->setGeometry(51, H - kLeftBottomPanel + 11, 95, 15);
    const int playX[] = {17, 48, 79, 110, 141};
    const int playIds[] = {IDC_PLAY, IDC_STOP, IDC_PAUSE, IDC_REWIND, IDC_FAST_FORWARD};
    for (int i = 0; i < 5; ++i)
        place(playIds[i], playX[i], H - kLeftBottomPanel + 35, 30, 24);
    place(IDC_TIMELINE, 11, H - 30, 164, 24);
    const int bottom = margins_.bottom;
    place(IDC_LOCAL_RECORD, W - 630, H - bottom + 12, 32, 24);
    place(IDC_CAPTURE, W - 593, H - bottom + 12, 32, 24);
    place(IDC_BACKUP, W - 556, H - bottom + 12, 32, 24);
    for (int i = 0; i < 9; ++i)
        place(kSplitButtons[i], W + 53 * i - 500, H - bottom + 6, 48, 38);
    const int treeTop = 153;
    deviceTree_->setGeometry(16, treeTop, 155, std::max(0, H - kLeftBottomPanel - kLeftColumnBottom - treeTop));
    groupTree_->setGeometry(11, 90, 178, std::max(0, H - kLeftBottomPanel - kLeftColumnBottom - 90));
}

void CVyrNVRView::PaintSkin(QPainter& p)
{
    const int W = width(), H = height();
    p.fillRect(rect(), QColor(0x0F, 0x3A, 0x79));
    auto draw = [&p](const QImage& image, const QRect& target) {
        if (!image.isNull() && target.isValid())
            p.drawImage(target, image);
    };
    draw(skin_.leftTop, QRect(0, 0, 185, 153));
    const int leftBottomTop = H - kLeftColumnBottom - kLeftBottomPanel;
    draw(skin_.leftLeft, QRect(0, 153, 16, leftBottomTop - 153));
    draw(skin_.leftRight, QRect(169, 153, 16, leftBottomTop - 153));
    draw(skin_.leftBottom, QRect(0, leftBottomTop, kLeftMargin, kLeftColumnBottom));
    draw(skin_.none, QRect(0, H - kLeftBottomPanel, kLeftMargin, kLeftBottomPanel));
    draw(skin_.top, QRect(kLeftMargin, 0, std::min(730, W - kLeftMargin), 50));
    if (W - kLeftMargin > 730)
        draw(skin_.topStretch, QRect(kLeftMargin + 730, 0, W - kLeftMargin - 730, 50));
    draw(skin_.topStretch, QRect(W - kRightMargin, 50, kRightMargin, H - 50 - kBottomMargin));
    if (bottom_ == BottomVideo) {
        draw(skin_.topStretch, QRect(kLeftMargin, H - kBottomMargin, W - kLeftMargin - 643, kBottomMargin));
        draw(skin_.bottomRight, QRect(W - 643, H - kBottomMargin, 643, kBottomMargin));
    } else {
        const int h = margins_.bottom;
        draw(skin_.timelineLeft, QRect(kLeftMargin, H - h, 100, h));
        draw(skin_.timelineStretch, QRect(kLeftMargin + 100, H - h, W - kLeftMargin - 130, h));
        draw(skin_.timelineRight, QRect(W - 30, H - h, 30, h));
    }
}

void CVyrNVRView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (fullScreen_) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    PaintSkin(p);
    if (bottom_ == BottomTimeline && hasDayData_) {
        PaintTimeline(p, Timeline(), &day_, scrollRow_, selectedSlot_);
        PaintScrollArea(p);
    }
}

void CVyrNVRView::PaintScrollArea(QPainter& p)
{
    if (!Timeline().scrolls)
        return;
    // The scroll bar sits on this area; the first drawing after the video
    // was back gets the backing bitmap so no stale cell shows around it.
    const QImage& image = scrollBitmapRepaint_ ? skin_.scrollBack : skin_.scrollArea;
    scrollBitmapRepaint_ = false;
    if (!image.isNull())
        p.drawImage(Timeline().ScrollBarRect(), image);
}
