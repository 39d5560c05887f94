// The output options dialog and the progress cell of the list.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include "AppTestSupport.h"
#include "OptionsDialog.h"
#include "ProgressDelegate.h"
#include "logic/ProgressCell.h"

class OptionsDialogTest : public QObject {
  Q_OBJECT
 private:
  struct TDialog {
    TDialog() : Dialog(Fields, User) { Dialog.show(); }
    template <typename T>
    T* Control(const QString& name) const {
      return Dialog.findChild<T*>(name);
    }
    void Reopen() {
      Dialog.hide();
      Dialog.show();
    }
    TOutputOverrideFields Fields;
    TScriptedInteraction User;
    TfrmOptions Dialog;
  };

 private slots:
  void firstOpeningShowsTheDefaults() {
    TDialog test;
    for (const char* group :
         {"rdgAudioChannel", "rdgAudioSampleRate", "rdgVideoAspectRatio", "rdgVideoFrameRate"})
      QCOMPARE(test.Dialog.ItemIndex(test.Control<QButtonGroup>(group)), 0);
    for (const char* box : {"chkVideoBitRateSame", "chkAudioBitRateSame", "chkResolutionSame"})
      QVERIFY2(test.Control<QCheckBox>(box)->isChecked(), box);
    for (const char* field : {"txtVideoBitRate", "txtAudioBitRate"}) {
      QVERIFY2(!test.Control<QLineEdit>(field)->isEnabled(), field);
      QVERIFY(test.Control<QLineEdit>(field)->text().isEmpty());
    }
    for (const char* control :
         {"lblResolutionWidth", "txtResolutionWidth", "lblResolutionWidthPixels",
          "lblResolutionHeight", "txtResolutionHeight", "lblResolutionHeightPixels"})
      QVERIFY2(!test.Control<QWidget>(control)->isEnabled(), control);
    QCOMPARE(test.Dialog.windowTitle(), QString("Output Options"));
    QCOMPARE(test.Dialog.size(), QSize(563, 469));
    test.Control<QCheckBox>("chkResolutionSame")->setChecked(false);
    QVERIFY(test.Control<QComboBox>("txtResolutionHeight")->isEnabled());
  }

  void invalidValuesKeepTheDialogOpen_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("empty width") << "chkResolutionSame"
                                 << "txtResolutionWidth"
                                 << ""
                                 << "The width and height of the video must be integers"
                                 << "chkResolutionSame";
    QTest::newRow("video letters") << "chkVideoBitRateSame"
                                   << "txtVideoBitRate"
                                   << "fast"
                                   << "The video bit rate must be an integer value"
                                   << "txtVideoBitRate";
    QTest::newRow("audio empty") << "chkAudioBitRateSame"
                                 << "txtAudioBitRate"
                                 << ""
                                 << "The audio bit rate must be an integer value"
                                 << "txtAudioBitRate";
  }

  void invalidValuesKeepTheDialogOpen() {
    QFETCH(QString, box);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    TDialog test;
    test.Control<QCheckBox>(box)->setChecked(false);
    if (auto* edit = test.Control<QLineEdit>(field)) edit->setText(text);
    test.Control<QComboBox>("txtResolutionHeight")->setEditText("240");
    test.Dialog.btnOKClick();
    QCOMPARE(test.User.Messages, QStringList({"info: " + message}));
    QCOMPARE(test.Dialog.focusWidget()->objectName(), focus);
    QVERIFY(test.Dialog.isVisible());
    QVERIFY(test.Fields == TOutputOverrideFields());
  }

  void okStoresAndCancelKeepsTheStoredValues() {
    TDialog test;
    test.Control<QCheckBox>("chkVideoBitRateSame")->setChecked(false);
    test.Control<QLineEdit>("txtVideoBitRate")->setText("800");
    test.Control<QButtonGroup>("rdgAudioSampleRate")->button(3)->setChecked(true);
    // Letters in a field whose box is set again pass; the text is kept.
    test.Control<QCheckBox>("chkAudioBitRateSame")->setChecked(false);
    test.Control<QLineEdit>("txtAudioBitRate")->setText("abc");
    test.Control<QCheckBox>("chkAudioBitRateSame")->setChecked(true);
    test.Dialog.btnOKClick();
    QVERIFY(test.User.Messages.isEmpty());
    QCOMPARE(test.Dialog.result(), int(QDialog::Accepted));
    QCOMPARE(test.Fields.VideoBitRateText, QString("800"));
    QVERIFY(!test.Fields.VideoBitRateDefault);
    QCOMPARE(test.Fields.SampleRateIndex, 3);
    QCOMPARE(test.Fields.AudioBitRateText, QString("abc"));
    QVERIFY(test.Fields.AudioBitRateDefault);

    // Typed, then cancelled: the conversion still reads the stored 800.
    test.Reopen();
    QCOMPARE(test.Control<QLineEdit>("txtVideoBitRate")->text(), QString("800"));
    QVERIFY(test.Control<QLineEdit>("txtVideoBitRate")->isEnabled());
    test.Control<QLineEdit>("txtVideoBitRate")->setText("9x9");
    test.Dialog.reject();
    QCOMPARE(test.Fields.VideoBitRateText, QString("800"));
    const TConversionOverrides overrides = ConversionOverridesOf(test.Fields);
    QCOMPARE(overrides.VideoBitrateKbps, 800);
    QCOMPARE(overrides.AudioSampleRate, 22050);
    QCOMPARE(overrides.AudioBitrateKbps, -1);
    test.Reopen();
    QCOMPARE(test.Control<QLineEdit>("txtVideoBitRate")->text(), QString("800"));
  }

  void overridesFollowTheStoredChoices() {
    TOutputOverrideFields fields;
    fields.AudioChannelIndex = 1;
    fields.AspectRatioIndex = 2;
    fields.FrameRateIndex = 4;
    fields.ResolutionDefault = false;
    fields.ResolutionWidth = "320";
    fields.ResolutionHeight = "240";
    fields.AudioBitRateDefault = false;
    fields.AudioBitRateText = "99999999";
    const TConversionOverrides overrides = ConversionOverridesOf(fields);
    QCOMPARE(overrides.AudioChannels, 1);
    QCOMPARE(overrides.VideoAspect, std::string("16:9"));
    QCOMPARE(overrides.FrameRate, std::string("30"));
    QCOMPARE(overrides.FrameWidth, 320);
    QCOMPARE(overrides.FrameHeight, 240);
    // Never more than fits in bits per second.
    QVERIFY(int64_t(overrides.AudioBitrateKbps) * 1000 <= INT_MAX);
  }

  void progressCellText_data() {
    QTest::addColumn<qint64>("current");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("quarter") << qint64(30000) << qint64(120000) << "{|25";
    QTest::newRow("unknown length") << qint64(5000) << qint64(-1) << "{|";
    QTest::newRow("zero length") << qint64(5000) << qint64(0) << "{|";
    QTest::newRow("past six hours") << qint64(25000000) << qint64(50000000) << "{|50";
    QTest::newRow("beyond the end") << qint64(130) << qint64(100) << "{|100";
  }

  void progressCellText() {
    QFETCH(qint64, current);
    QFETCH(qint64, total);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(ProgressCellText(current, total)), text);
    int percent = 0;
    QVERIFY(ParseProgressCell(text.toStdString(), percent));
    QCOMPARE(percent, ProgressPercent(current, total));
    QVERIFY(!ParseProgressCell("Done", percent));
    QCOMPARE(QString::fromStdString(RemainingTimeText(10000, 25000, 100000)), QString("0:30 left"));
    QVERIFY(RemainingTimeText(10000, 0, 100000).empty());
  }

  void delegateDrawsTheBar() {
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), "{|50");
    TProgressDelegate delegate;
    QImage picture(200, 22, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QStyleOptionViewItem option;
    option.rect = picture.rect();
    QPainter painter(&picture);
    delegate.paint(&painter, option, model.index(0, 0));
    painter.end();
    const QColor filled = picture.pixelColor(10, 4);
    const QColor empty = picture.pixelColor(180, 4);
    QVERIFY2(filled.blue() > filled.red() + 40, qPrintable(filled.name()));  // sky blue
    QCOMPARE(empty, QColor(Qt::white));
  }
};

QTEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"
