#include "OptionsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <climits>

#include "UserInteraction.h"
#include "platform/Convert.h"

namespace {
bool IsInteger(const QString& text) {
  try {
    StrToInt(text.toStdString());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Bit rates go on in bits per second: larger values could not be stored.
int KbpsOf(const QString& text) {
  const int kbps = StrToIntDef(text.toStdString(), -1);
  return std::min(kbps, INT_MAX / 1000);
}

template <typename T>
T ChoiceOf(const std::vector<T>& choices, int index, T none) {
  if (index < 1 || index > static_cast<int>(choices.size())) return none;
  return choices[index - 1];
}
}  // namespace

TConversionOverrides ConversionOverridesOf(const TOutputOverrideFields& fields) {
  TConversionOverrides overrides;
  if (fields.AudioChannelIndex == 1 || fields.AudioChannelIndex == 2)
    overrides.AudioChannels = fields.AudioChannelIndex;
  overrides.AudioSampleRate = ChoiceOf(SampleRateChoices(), fields.SampleRateIndex, -1);
  overrides.VideoAspect = ChoiceOf(AspectRatioChoices(), fields.AspectRatioIndex, std::string());
  overrides.FrameRate = ChoiceOf(FrameRateChoices(), fields.FrameRateIndex, std::string());
  if (!fields.VideoBitRateDefault) overrides.VideoBitrateKbps = KbpsOf(fields.VideoBitRateText);
  if (!fields.AudioBitRateDefault) overrides.AudioBitrateKbps = KbpsOf(fields.AudioBitRateText);
  if (!fields.ResolutionDefault && IsInteger(fields.ResolutionWidth) &&
      IsInteger(fields.ResolutionHeight)) {
    overrides.FrameWidth = StrToInt(fields.ResolutionWidth.toStdString());
    overrides.FrameHeight = StrToInt(fields.ResolutionHeight.toStdString());
  }
  return overrides;
}

TfrmOptions::TfrmOptions(TOutputOverrideFields& fields, TUserInteraction& interaction,
                         QWidget* parent)
    : QDialog(parent), fields_(fields), interaction_(interaction) {
  setObjectName("frmOptions");
  setWindowTitle("Output Options");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont font("Tahoma");
  font.setPixelSize(11);
  setFont(font);
  setModal(true);

  auto* pages = new QTabWidget(this);
  pages->setObjectName("PageControl1");
  pages->addTab(MakeGeneralPage(), "General");

  auto* btnOK = new QPushButton("&OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  auto* btnCancel = new QPushButton("&Cancel", this);
  btnCancel->setObjectName("btnCancel");
  connect(btnOK, &QPushButton::clicked, this, &TfrmOptions::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages);
  layout->addLayout(buttons);
  setFixedSize(563, 469);
}

QWidget* TfrmOptions::MakeGeneralPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet1");
  auto* layout = new QVBoxLayout(page);
  audioChannelBox_ = MakeRadioGroup("rdgAudioChannel", " Audio Channel ",
                                    {"Default", "Mono", "Stereo"}, 3, rdgAudioChannel_);
  layout->addWidget(audioChannelBox_);
  layout->addWidget(MakeRadioGroup("rdgAudioSampleRate", " Audio Sample Rate ",
                                   {"Default", "8000Hz", "11025Hz", "22050Hz", "44100Hz"}, 5,
                                   rdgAudioSampleRate_));
  layout->addWidget(MakeRadioGroup("rdgVideoAspectRatio", " Video Aspect Ratio ",
                                   {"Default", "4:3", "16:9", "37:20", "47:20"}, 6,
                                   rdgVideoAspectRatio_));
  layout->addWidget(MakeRadioGroup("rdgVideoFrameRate", " Video Frame Rate (Frames Per Second) ",
                                   {"Default", "10", "15", "25", "30"}, 6, rdgVideoFrameRate_));
  auto* bitRates = new QHBoxLayout;
  bitRates->addWidget(MakeBitRateGroup("grpVideoBitRate", " Video Bit Rate ", txtVideoBitRate_,
                                       chkVideoBitRateSame_, "txtVideoBitRate",
                                       "chkVideoBitRateSame"));
  bitRates->addWidget(MakeBitRateGroup("grpAudioBitRate", " Audio Bit Rate ", txtAudioBitRate_,
                                       chkAudioBitRateSame_, "txtAudioBitRate",
                                       "chkAudioBitRateSame"));
  layout->addLayout(bitRates);
  layout->addWidget(MakeResolutionGroup());
  layout->addStretch();
  connect(chkVideoBitRateSame_, &QCheckBox::toggled, this, &TfrmOptions::chkVideoBitRateSameClick);
  connect(chkAudioBitRateSame_, &QCheckBox::toggled, this, &TfrmOptions::chkAudioBitRateSameClick);
  connect(chkResolutionSame_, &QCheckBox::toggled, this, &TfrmOptions::chkResolutionSameClick);
  return page;
}

QGroupBox* TfrmOptions::MakeRadioGroup(const QString& name, const QString& caption,
                                       const QStringList& items, int columns,
                                       QButtonGroup*& group) {
  auto* box = new QGroupBox(caption);
  box->setObjectName(name);
  group = new QButtonGroup(box);
  group->setObjectName(name);
  auto* grid = new QGridLayout(box);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i]);
    button->setObjectName(QString("%1_%2").arg(name).arg(i));
    group->addButton(button, i);
    grid->addWidget(button, i / columns, i % columns);
  }
  group->button(0)->setChecked(true);
  return box;
}

QGroupBox* TfrmOptions::MakeBitRateGroup(const QString& name, const QString& caption,
                                         QLineEdit*& edit, QCheckBox*& sameBox,
                                         const QString& editName, const QString& boxName) {
  auto* box = new QGroupBox(caption);
  box->setObjectName(name);
  edit = new QLineEdit;
  edit->setObjectName(editName);
  edit->setToolTip("Kilobits per second");
  edit->setEnabled(false);
  sameBox = new QCheckBox("Default Value");
  sameBox->setObjectName(boxName);
  sameBox->setChecked(true);
  auto* layout = new QHBoxLayout(box);
  layout->addWidget(edit);
  layout->addWidget(new QLabel("kbps"));
  layout->addWidget(sameBox);
  return box;
}

QGroupBox* TfrmOptions::MakeResolutionGroup() {
  auto* box = new QGroupBox(" Video Resolution ");
  box->setObjectName("grpResolution");
  chkResolutionSame_ = new QCheckBox("Default Value");
  chkResolutionSame_->setObjectName("chkResolutionSame");
  chkResolutionSame_->setChecked(true);
  auto makeLabel = [](const QString& text, const QString& name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setEnabled(false);
    return label;
  };
  auto makeList = [](const QStringList& items, const QString& name) {
    auto* list = new QComboBox;
    list->setObjectName(name);
    list->setEditable(true);
    list->addItems(items);
    list->setCurrentIndex(-1);
    list->setEnabled(false);
    return list;
  };
  lblResolutionWidth_ = makeLabel("Width:", "lblResolutionWidth");
  txtResolutionWidth_ =
      makeList({"128", "176", "320", "480", "640", "720", "1280", "1920"}, "txtResolutionWidth");
  lblResolutionWidthPixels_ = makeLabel("Pixels", "lblResolutionWidthPixels");
  lblResolutionHeight_ = makeLabel("Height:", "lblResolutionHeight");
  // "406" after "480" is how the list has always read.
  txtResolutionHeight_ =
      makeList({"96", "144", "240", "320", "480", "406", "720", "1080"}, "txtResolutionHeight");
  lblResolutionHeightPixels_ = makeLabel("Pixels", "lblResolutionHeightPixels");
  auto* layout = new QGridLayout(box);
  layout->addWidget(chkResolutionSame_, 0, 0, 1, 3);
  layout->addWidget(lblResolutionWidth_, 1, 0);
  layout->addWidget(txtResolutionWidth_, 1, 1);
  layout->addWidget(lblResolutionWidthPixels_, 1, 2);
  layout->addWidget(lblResolutionHeight_, 2, 0);
  layout->addWidget(txtResolutionHeight_, 2, 1);
  layout->addWidget(lblResolutionHeightPixels_, 2, 2);
  return box;
}

int TfrmOptions::ItemIndex(const QButtonGroup* group) const {
  return group->checkedId();
}

void TfrmOptions::SetItemIndex(QButtonGroup* group, int index) {
  if (QAbstractButton* button = group->button(index)) button->setChecked(true);
}

void TfrmOptions::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmOptions::FormShow() {
  SetItemIndex(rdgAudioChannel_, fields_.AudioChannelIndex);
  SetItemIndex(rdgAudioSampleRate_, fields_.SampleRateIndex);
  SetItemIndex(rdgVideoAspectRatio_, fields_.AspectRatioIndex);
  SetItemIndex(rdgVideoFrameRate_, fields_.FrameRateIndex);
  txtVideoBitRate_->setText(fields_.VideoBitRateText);
  txtAudioBitRate_->setText(fields_.AudioBitRateText);
  chkVideoBitRateSame_->setChecked(fields_.VideoBitRateDefault);
  chkAudioBitRateSame_->setChecked(fields_.AudioBitRateDefault);
  txtResolutionWidth_->setEditText(fields_.ResolutionWidth);
  txtResolutionHeight_->setEditText(fields_.ResolutionHeight);
  chkResolutionSame_->setChecked(fields_.ResolutionDefault);
  chkResolutionSame_->setEnabled(true);
  audioChannelBox_->setEnabled(true);
  // Setting a box to the state it already has raises no toggle.
  chkVideoBitRateSameClick();
  chkAudioBitRateSameClick();
  chkResolutionSameClick();
}

void TfrmOptions::chkVideoBitRateSameClick() {
  txtVideoBitRate_->setEnabled(!chkVideoBitRateSame_->isChecked());
}

void TfrmOptions::chkAudioBitRateSameClick() {
  txtAudioBitRate_->setEnabled(!chkAudioBitRateSame_->isChecked());
}

void TfrmOptions::chkResolutionSameClick() {
  const bool enabled = !chkResolutionSame_->isChecked();
  for (QWidget* control :
       {static_cast<QWidget*>(lblResolutionWidth_), static_cast<QWidget*>(txtResolutionWidth_),
        static_cast<QWidget*>(lblResolutionWidthPixels_),
        static_cast<QWidget*>(lblResolutionHeight_), static_cast<QWidget*>(txtResolutionHeight_),
        static_cast<QWidget*>(lblResolutionHeightPixels_)})
    control->setEnabled(enabled);
}

bool TfrmOptions::Validate() {
  if (!chkResolutionSame_->isChecked() && !(IsInteger(txtResolutionWidth_->currentText()) &&
                                            IsInteger(txtResolutionHeight_->currentText()))) {
    interaction_.ShowInformation(this, "The width and height of the video must be integers");
    chkResolutionSame_->setFocus();
    return false;
  }
  if (!chkVideoBitRateSame_->isChecked() && !IsInteger(txtVideoBitRate_->text())) {
    interaction_.ShowInformation(this, "The video bit rate must be an integer value");
    txtVideoBitRate_->setFocus();
    return false;
  }
  if (!chkAudioBitRateSame_->isChecked() && !IsInteger(txtAudioBitRate_->text())) {
    interaction_.ShowInformation(this, "The audio bit rate must be an integer value");
    txtAudioBitRate_->setFocus();
    return false;
  }
  return true;
}

void TfrmOptions::Store() {
  fields_.AudioChannelIndex = ItemIndex(rdgAudioChannel_);
  fields_.SampleRateIndex = ItemIndex(rdgAudioSampleRate_);
  fields_.AspectRatioIndex = ItemIndex(rdgVideoAspectRatio_);
  fields_.FrameRateIndex = ItemIndex(rdgVideoFrameRate_);
  fields_.VideoBitRateText = txtVideoBitRate_->text();
  fields_.AudioBitRateText = txtAudioBitRate_->text();
  fields_.VideoBitRateDefault = chkVideoBitRateSame_->isChecked();
  fields_.AudioBitRateDefault = chkAudioBitRateSame_->isChecked();
  fields_.ResolutionWidth = txtResolutionWidth_->currentText();
  fields_.ResolutionHeight = txtResolutionHeight_->currentText();
  fields_.ResolutionDefault = chkResolutionSame_->isChecked();
}

void TfrmOptions::btnOKClick() {
  if (!Validate()) return;
  Store();
  accept();
}
