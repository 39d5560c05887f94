#pragma once
// The "Output Options" dialog: overrides of the chosen profile's audio
// channels, sample rate and bit rate, and of the video aspect ratio, frame
// rate, bit rate and frame size. It edits the main window's confirmed
// values: each showing reloads them, only OK (after validation) stores.
#include <QDialog>
#include <QString>

#include "logic/Profiles.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TUserInteraction;

// The confirmed overrides, as the dialog stores them. Index 0 and a set
// "Default" flag keep the profile's value.
struct TOutputOverrideFields {
  int AudioChannelIndex = 0;
  int SampleRateIndex = 0;
  int AspectRatioIndex = 0;
  int FrameRateIndex = 0;
  QString VideoBitRateText;
  QString AudioBitRateText;
  QString ResolutionWidth;
  QString ResolutionHeight;
  bool VideoBitRateDefault = true;
  bool AudioBitRateDefault = true;
  bool ResolutionDefault = true;
  bool operator==(const TOutputOverrideFields&) const = default;
};

// The overrides for the output records. Reads only the stored, validated
// texts; a text that still fails to convert keeps the profile's value.
TConversionOverrides ConversionOverridesOf(const TOutputOverrideFields& fields);

class TfrmOptions : public QDialog {
  Q_OBJECT
 public:
  TfrmOptions(TOutputOverrideFields& fields, TUserInteraction& interaction,
              QWidget* parent = nullptr);

  // The radio group's selected item, or -1.
  int ItemIndex(const QButtonGroup* group) const;

 public slots:
  void FormShow();
  void btnOKClick();
  void chkVideoBitRateSameClick();
  void chkAudioBitRateSameClick();
  void chkResolutionSameClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QGroupBox* MakeRadioGroup(const QString& name, const QString& caption, const QStringList& items,
                            int columns, QButtonGroup*& group);
  QGroupBox* MakeBitRateGroup(const QString& name, const QString& caption, QLineEdit*& edit,
                              QCheckBox*& sameBox, const QString& editName, const QString& boxName);
  QGroupBox* MakeResolutionGroup();
  QWidget* MakeGeneralPage();
  void SetItemIndex(QButtonGroup* group, int index);
  // False after showing the message and moving the focus.
  bool Validate();
  void Store();

  TOutputOverrideFields& fields_;
  TUserInteraction& interaction_;
  QButtonGroup* rdgAudioChannel_ = nullptr;
  QButtonGroup* rdgAudioSampleRate_ = nullptr;
  QButtonGroup* rdgVideoAspectRatio_ = nullptr;
  QButtonGroup* rdgVideoFrameRate_ = nullptr;
  QGroupBox* audioChannelBox_ = nullptr;
  QLineEdit* txtVideoBitRate_ = nullptr;
  QCheckBox* chkVideoBitRateSame_ = nullptr;
  QLineEdit* txtAudioBitRate_ = nullptr;
  QCheckBox* chkAudioBitRateSame_ = nullptr;
  QCheckBox* chkResolutionSame_ = nullptr;
  QLabel* lblResolutionWidth_ = nullptr;
  QComboBox* txtResolutionWidth_ = nullptr;
  QLabel* lblResolutionWidthPixels_ = nullptr;
  QLabel* lblResolutionHeight_ = nullptr;
  QComboBox* txtResolutionHeight_ = nullptr;
  QLabel* lblResolutionHeightPixels_ = nullptr;
};
