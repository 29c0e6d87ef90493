// The view's lower-left panels (pan, tilt, zoom and focus; presets; sound),
// and the two dialog launches on the selected cell: its properties and the
// DVR's setup.
#include "CVyrNVRView.h"

#include "viewercore/widgets/ViewSkin.h"
#include "netviewer/CVyrNVRDoc.h"
#include "viewercore/dialogs/CPropertyDlg.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CBitmapSlider.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

enum Panel { PanelNone = 0, PanelPtz = 1, PanelPreset = 2, PanelAudio = 3 };

constexpr short kFullRight = 15;
constexpr int kPresetMin = 1;
constexpr int kPresetMax = 10;

struct PanelButtonSpec {
    int id;
    int panel;
    int in, out;
    int x, dy, w, h;
    const char* caption;
    const char* pressed;  // PTZ code on press, null for the other buttons
    const char* released; // PTZ code on release
};

const PanelButtonSpec kPanelButtons[] = {
    {IDC_PTZ_UP_LEFT, PanelPtz, kBitmapPtzUpLeftIn, kBitmapPtzUpLeftOut, 83, 36, 29, 26, "\\", "LU", "MS"},
    {IDC_PTZ_UP, PanelPtz, kBitmapPtzUpIn, kBitmapPtzUpOut, 112, 36, 25, 20, "^", "U1", "MS"},
    {IDC_PTZ_UP_RIGHT, PanelPtz, kBitmapPtzUpRightIn, kBitmapPtzUpRightOut, 137, 36, 29, 26, "/", "RU", "MS"},
    {IDC_PTZ_LEFT, PanelPtz, kBitmapPtzLeftIn, kBitmapPtzLeftOut, 83, 65, 23, 22, "<", "L1", "MS"},
    {IDC_PTZ_RIGHT, PanelPtz, kBitmapPtzRightIn, kBitmapPtzRightOut, 143, 65, 23, 22, ">", "R1", "MS"},
    {IDC_PTZ_DOWN_LEFT, PanelPtz, kBitmapPtzDownLeftIn, kBitmapPtzDownLeftOut, 83, 90, 29, 26, "/", "LD", "MS"},
    {IDC_PTZ_DOWN, PanelPtz, kBitmapPtzDownIn, kBitmapPtzDownOut, 112, 96, 25, 20, "v", "D1", "MS"},
    {IDC_PTZ_DOWN_RIGHT, PanelPtz, kBitmapPtzDownRightIn, kBitmapPtzDownRightOut, 137, 90, 29, 26, "\\", "RD", "MS"},
    {IDC_ZOOM_OUT, PanelPtz, kBitmapZoomOutIn, kBitmapZoomOutOut, 17, 44, 29, 26, "Z-", "ZO", "ZS"},
    {IDC_ZOOM_IN, PanelPtz, kBitmapZoomInIn, kBitmapZoomInOut, 46, 44, 29, 26, "Z+", "ZI", "ZS"},
    {IDC_FOCUS_FAR, PanelPtz, kBitmapFocusFarIn, kBitmapFocusFarOut, 17, 91, 29, 26, "F-", "FF", "FS"},
    {IDC_FOCUS_NEAR, PanelPtz, kBitmapFocusNearIn, kBitmapFocusNearOut, 46, 91, 29, 26, "F+", "FN", "FS"},
    {IDC_PRESET_GO, PanelPreset, kBitmapPresetGoIn, kBitmapPresetGoOut, 95, 65, 36, 24, "Go", nullptr, nullptr},
    {IDC_PRESET_SET, PanelPreset, kBitmapPresetSetIn, kBitmapPresetSetOut, 19, 95, 73, 23, "Set", nullptr, nullptr},
    {IDC_PRESET_CLEAR, PanelPreset, kBitmapPresetClearIn, kBitmapPresetClearOut, 94, 95, 73, 23, "Clear", nullptr,
     nullptr},
    {IDC_LISTEN, PanelAudio, kBitmapListenIn, kBitmapListenOut, 14, 94, 35, 24, "On", nullptr, nullptr},
};

struct SliderSpec {
    int id;
    int panel;
    int channel;
    int x, dy, w, h;
    int min, max, pos;
};

const SliderSpec kSliders[] = {
    {IDC_PT_SPEED, PanelPtz, kBitmapPtSpeedChannel, 92, 124, 51, 15, 1, 100, 50},
    {IDC_SPEAKER_VOLUME, PanelAudio, kBitmapVolumeChannel, 60, 98, 85, 15, 1, 100, 50},
    {IDC_MIC_VOLUME, PanelAudio, kBitmapVolumeChannel, 60, 128, 85, 15, 1, 50, 25},
};

struct PanelSwitchSpec {
    int id;
    int panel;
    int in, out;
    const char* caption;
};

const PanelSwitchSpec kPanelSwitches[] = {
    {IDC_PTZ_PANEL, PanelPtz, kBitmapPtzPanelIn, kBitmapPtzPanelOut, "PTZ Control"},
    {IDC_PRESET_PANEL, PanelPreset, kBitmapPresetPanelIn, kBitmapPresetPanelOut, "Preset"},
    {IDC_AUDIO_PANEL, PanelAudio, kBitmapAudioPanelIn, kBitmapAudioPanelOut, "Audio"},
};

// The preset number the edit holds; 0 when it holds no number in 1..10.
int TypedPresetNumber(const QLineEdit* edit)
{
    bool isNumber = false;
    const int number = edit->text().trimmed().toInt(&isNumber);
    return isNumber && number >= kPresetMin && number <= kPresetMax ? number : 0;
}

const PanelButtonSpec* FindPanelButton(int id)
{
    for (const PanelButtonSpec& spec : kPanelButtons)
        if (spec.id == id)
            return &spec;
    return nullptr;
}

} // namespace

// ---- creation and placing ---------------------------------------------------

void CVyrNVRView::CreatePanelControls()
{
    for (const PanelSwitchSpec& spec : kPanelSwitches) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        button->SetFlat(true);
        const int id = spec.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        buttons_[spec.id] = button;
    }
    for (const PanelButtonSpec& spec : kPanelButtons) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        button->SetFlat(true);
        if (spec.pressed) {
            button->SetPtzHook(this);
        } else {
            const int id = spec.id;
            QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        }
        buttons_[spec.id] = button;
    }
    for (const SliderSpec& spec : kSliders) {
        auto* slider = new CBitmapSlider(this, spec.id);
        slider->setObjectName(QString::number(spec.id));
        slider->SetBitmapChannel(viewer::SkinImage(spec.channel));
        slider->SetBitmapThumb(viewer::SkinImage(kBitmapSliderThumb));
        slider->SetRange(spec.min, spec.max);
        slider->SetPos(spec.pos);
        sliders_[spec.id] = slider;
    }
    presetEdit_ = new QLineEdit(QString::number(presetNumber_), this);
    presetEdit_->setObjectName(QString::number(IDC_PRESET_NUMBER));
    presetEdit_->setAlignment(Qt::AlignRight);
    presetSpin_ = new QWidget(this);
    presetSpin_->setObjectName(QString::number(IDC_PRESET_SPIN));
    auto* spinLayout = new QVBoxLayout(presetSpin_);
    spinLayout->setContentsMargins(0, 0, 0, 0);
    spinLayout->setSpacing(0);
    for (int step : {+1, -1}) {
        auto* arrow = new QToolButton(presetSpin_);
        arrow->setObjectName(step > 0 ? "up" : "down");
        arrow->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setAutoRepeat(true);
        arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        QObject::connect(arrow, &QToolButton::clicked, this, [this, step] { OnPresetSpin(step); });
        spinLayout->addWidget(arrow);
    }
    PlacePanelControls();
}

void CVyrNVRView::PlacePanelControls()
{
    if (!presetEdit_)
        return;
    const int H = height();
    const int ph = kPanelHeights[panelMode_];
    const int y0 = H - ph;
    const bool shown = !fullScreen_;
    for (const PanelSwitchSpec& spec : kPanelSwitches) {
        CButtonST* button = buttons_[spec.id];
        // The open panel's button keeps its in-bitmap.
        if (panelMode_ == spec.panel)
            viewer::SetSkinFace(button, spec.in);
        else
            viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        int y = y0 + 4;
        if (spec.id == IDC_PRESET_PANEL)
            y = panelMode_ == PanelPtz ? H - 60 : y0 + 33;
        else if (spec.id == IDC_AUDIO_PANEL)
            y = panelMode_ == PanelNone || panelMode_ == PanelAudio ? y0 + 62 : H - 30;
        button->setGeometry(11, y, 164, 24);
        button->setVisible(shown);
    }
    for (const PanelButtonSpec& spec : kPanelButtons) {
        CButtonST* button = buttons_[spec.id];
        button->setGeometry(spec.x, y0 + spec.dy, spec.w, spec.h);
        button->setVisible(shown && panelMode_ == spec.panel);
    }
    for (const SliderSpec& spec : kSliders) {
        CBitmapSlider* slider = sliders_[spec.id];
        slider->setGeometry(spec.x, y0 + spec.dy, spec.w, spec.h);
        slider->setVisible(shown && panelMode_ == spec.panel);
    }
    presetEdit_->setGeometry(20, y0 + 65, 53, 24);
    presetSpin_->setGeometry(73, y0 + 65, 17, 23);
    presetEdit_->setVisible(shown && panelMode_ == PanelPreset);
    presetSpin_->setVisible(shown && panelMode_ == PanelPreset);
}

CBitmapSlider* CVyrNVRView::Slider(int id) const
{
    auto it = sliders_.find(id);
    return it != sliders_.end() ? it->second : nullptr;
}

// ---- rights -----------------------------------------------------------------

CDVyrdax* CVyrNVRView::SelectedControl(short* channel) const
{
    if (selectedCell_ < 0 || selectedCell_ >= kCells || cells_[selectedCell_].slot < 0)
        return nullptr;
    *channel = cells_[selectedCell_].channel;
    return ControlAt(cells_[selectedCell_].slot);
}

bool CVyrNVRView::SelectedCellMayControl(const char* refusal, bool needReady)
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    if (!control || (needReady && !control->isReady(ch))) {
        platform::MessageBox(this, kDropDvrFirst);
        return false;
    }
    if (!control->isConnect(ch)) {
        platform::MessageBox(this, kConnectFirst);
        return false;
    }
    if (control->GetUserRight() != kFullRight) {
        platform::MessageBox(this, refusal);
        return false;
    }
    return true;
}

// ---- panels -----------------------------------------------------------------

void CVyrNVRView::OnPanelButton(int id)
{
    const int panel = id == IDC_PTZ_PANEL ? PanelPtz : id == IDC_PRESET_PANEL ? PanelPreset : PanelAudio;
    if (panel == panelMode_) {
        panelMode_ = PanelNone;
    } else {
        if (panel != PanelAudio) {
            if (selectedCell_ < 0 || selectedCell_ >= kCells || cells_[selectedCell_].slot < 0)
                return; // an empty cell: no test, no message
            if (!SelectedCellMayControl(panel == PanelPtz ? kNoPtzRight : kNoPresetRight, true))
                return;
        }
        panelMode_ = panel;
    }
    PlaceButtons();
    update();
}

void CVyrNVRView::OnPtzButtonDown(CButtonST* button) { OnPtzPress(button->GetDlgCtrlID()); }

void CVyrNVRView::OnPtzButtonUp(CButtonST* button) { OnPtzRelease(button->GetDlgCtrlID()); }

namespace {

// Sends a PTZ code for the selected cell after the connection and right tests.
void SendPtzCode(QWidget* view, CDVyrdax* control, short ch, const char* code)
{
    if (!control->isConnect(ch)) {
        platform::MessageBox(view, kConnectFirst);
        return;
    }
    if (control->GetUserRight() != kFullRight) {
        platform::MessageBox(view, kNoAuthority);
        return;
    }
    control->PTZRControl(QString::fromLatin1(code), ch);
}

} // namespace

void CVyrNVRView::OnPtzPress(int id)
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    const PanelButtonSpec* spec = FindPanelButton(id);
    if (control && spec && spec->pressed)
        SendPtzCode(this, control, ch, spec->pressed);
}

void CVyrNVRView::OnPtzRelease(int id)
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    const PanelButtonSpec* spec = FindPanelButton(id);
    if (control && spec && spec->released)
        SendPtzCode(this, control, ch, spec->released);
}

bool CVyrNVRView::OnPresetSpin(int step)
{
    // The spin steps from what the edit shows, when the operator typed a number.
    if (const int typed = TypedPresetNumber(presetEdit_))
        presetNumber_ = typed;
    const int number = presetNumber_ + step;
    if (number < kPresetMin || number > kPresetMax)
        return false;
    presetNumber_ = number;
    presetEdit_->setText(QString::number(presetNumber_));
    return true;
}

void CVyrNVRView::OnPresetCommand(int id)
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    if (!control)
        return;
    if (control->GetUserRight() != kFullRight) {
        platform::MessageBox(this, kNoAuthority);
        return;
    }
    const int number = TypedPresetNumber(presetEdit_);
    if (number == 0) {
        platform::MessageBox(this, kPresetRange);
        return;
    }
    presetNumber_ = number;
    const char* format = id == IDC_PRESET_GO ? "PG%.2d" : id == IDC_PRESET_SET ? "PS%.2d" : "PC%.2d";
    control->PTZRControl(QString::asprintf(format, number), ch);
}

// ---- sound ------------------------------------------------------------------

void CVyrNVRView::OnListen()
{
    if (soundMuted_) {
        const CBitmapSlider* speaker = Slider(IDC_SPEAKER_VOLUME);
        const int level = std::clamp(speaker->GetPos(), speaker->GetRangeMin(), speaker->GetRangeMax());
        update();
        for (int cell = 0; cell < kCells; ++cell)
            if (CellUsable(cell)) {
                CDVyrdax* control = ControlAt(cells_[cell].slot);
                control->SetSoundMute(0);
                control->SetSpeakerVolume(level, cells_[cell].channel);
            }
        soundMuted_ = false;
    } else {
        for (int cell = 0; cell < kCells; ++cell)
            if (CellUsable(cell))
                ControlAt(cells_[cell].slot)->SetSoundMute(1);
        soundMuted_ = true;
    }
}

void CVyrNVRView::OnSliderMoved(int id, int position)
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    if (!control)
        return;
    if (CBitmapSlider* slider = Slider(id))
        slider->update();
    switch (id) {
    case IDC_PT_SPEED: control->SetPTSpeed(static_cast<short>(position)); break;
    case IDC_MIC_VOLUME: control->SetMicVolume(position, ch); break;
    case IDC_SPEAKER_VOLUME:
        if (!soundMuted_)
            control->SetSpeakerVolume(position, ch);
        break;
    default: break;
    }
}

// ---- dialogs on the selected cell -------------------------------------------

void CVyrNVRView::ShowCellProperties()
{
    short ch = 0;
    CDVyrdax* control = SelectedControl(&ch);
    const CGroup* group = document_->CurrentGroup();
    if (!control || !group || !group->cameras)
        return;
    const QString channelName = control->GetChannelName(ch);
    const CCamera* found = nullptr;
    for (const auto& camera : *group->cameras)
        if (camera && camera->channelName == channelName && camera->cell == selectedCell_) {
            found = camera.get();
            break;
        }
    if (!found)
        return;
    const bool cameraMode = !control->GetGroupName(ch).isEmpty();
    CPropertyDlg dialog(document_->Data(), cameraMode ? CPropertyDlg::ModeEditCamera : CPropertyDlg::ModeEditDvr,
                        this);
    dialog.SetDvrName(cameraMode ? group->name : found->deviceName);
    dialog.SetChannelName(channelName);
    dialog.SetReadOnly(true);
    dialog.exec();
}
