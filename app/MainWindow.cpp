// The main window's construction, settings and the small handlers around
// the list.
#include "MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "ProgressDelegate.h"
#include "QtMainThread.h"
#include "Skin.h"
#include "Src/QvAVConverter.h"
#include "TitleBar.h"
#include "UserInteraction.h"

namespace {
constexpr int ResizeMargin = 5;
const QString MakerSite = "https://example.org/tavrelle";

const char* const SupportedFilter =
    "All Supported Files|*.avi;*.avm;*.asf;*.wmv;*.avs;*.flv;*.mkv;*.mov;*.3gp;*.mp4;*.mpg;*.mpeg;"
    "*.dat;*.ogm;*.vob;*.rm;*.rmvb;*.ts;*.tp;*.ifo;*.nsv;*.vob;*.mp3;*.aac;*.wav;*.wma;*.cda;*."
    "flac;*.m4a;*.mid;*.mka;*.mp2;*.mpa;*.mpc;*.ape;*.ofr;*.ogg;*.ra;*.wv;*.tta;*.ac3;*.dts;*.amr;"
    "|Video Files|*.avi;*.avm;*.asf;*.wmv;*.avs;*.flv;*.mkv;*.mov;*.3gp;*.mp4;*.mpg;*.mpeg;*.dat;"
    "*.ogm;*.vob;*.rm;*.rmvb;*.ts;*.tp;*.ifo;*.nsv;*.vob;|Audio Files|*.mp3;*.aac;*.wav;*.wma;*."
    "cda;*.flac;*.m4a;*.mid;*.mka;*.mp2;*.mpa;*.mpc;*.ape;*.ofr;*.ogg;*.ra;*.wv;*.tta;*.ac3;*.dts;"
    "*.amr;|All Files|*.*";

QLabel* MakeLabel(const QString& name, const QString& caption) {
  auto* label = new QLabel(caption);
  label->setObjectName(name);
  return label;
}
}  // namespace

QString SettingsFileFor(const QString& appFolder) {
  const QFileInfo folder(appFolder);
  const QFileInfo beside(QDir(appFolder).filePath("config.ini"));
  if (folder.isDir() && folder.isWritable() && (!beside.exists() || beside.isWritable()))
    return beside.absoluteFilePath();
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(config);
  return QDir(config).filePath("config.ini");
}

// "Name|*.a;*.b|..." becomes "Name (*.a *.b);;...".
QString OpenDialogFilter() {
  const QStringList parts = QString(SupportedFilter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    patterns.removeDuplicates();
    filters << QString("%1 (%2)").arg(parts[i], patterns.join(' '));
  }
  return filters.join(";;");
}

TfrmMain::TfrmMain(const TMainWindowSetup& setup, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Window),
      setup_(setup),
      ownInteraction_(setup.Interaction ? nullptr : new TDesktopInteraction),
      interaction_(setup.Interaction ? *setup.Interaction : *ownInteraction_),
      QvAVC_(std::make_unique<TQvAVConverter>()) {
  if (setup_.SettingsFile.isEmpty()) setup_.SettingsFile = SettingsFileFor(setup_.AppFolder);
  InstallQtMainThreadDispatcher();
  setObjectName("frmMain");
  setWindowIcon(ProgramIcon());
  QFont font("Verdana");
  font.setPixelSize(13);
  setFont(font);
  setStyleSheet(SkinStyleSheet());
  setAttribute(Qt::WA_StyledBackground);
  setMouseTracking(true);
  BuildControls();
  ConnectHandlers();
  QvAVC_->SetLogLevel(llQuiet);
  QvAVC_->SetProgressInterval(100);
  QvAVC_->SetCodecThreadCount(0);  // one conversion uses every core
  WireComponentEvents();
  frmOptions_ = new TfrmOptions(overrides_, interaction_, this);
  selFormat_->setCurrentIndex(0);
  SetTitle("");
  ReadSettings();
  setMinimumSize(631, 433);
  resize(732, 556);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TfrmMain::~TfrmMain() {
  StopAndWait();
  QvAVC_.reset();  // joins what is left of the workers while the window still exists
}

void TfrmMain::BuildControls() {
  suiFormMain_ = new TTitleBar(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(ResizeMargin, ResizeMargin, ResizeMargin, ResizeMargin);
  layout->setSpacing(0);
  layout->addWidget(suiFormMain_);
  layout->addWidget(MakeBanner());
  layout->addWidget(MakeFileArea(), 1);
  MakePopupMenu();
}

QWidget* TfrmMain::MakeBanner() {
  auto* banner = new QWidget;
  banner->setObjectName("Banner");
  auto* image1 = new TClickablePicture;
  image1->setObjectName("Image1");
  image1->setPixmap(BannerLeftPicture());
  image1->setCursor(Qt::PointingHandCursor);
  auto* image3 = new TClickablePicture;
  image3->setObjectName("Image3");
  image3->setPixmap(BannerMiddlePicture());
  image3->setScaledContents(true);
  image3->setMinimumWidth(1);
  image3->setCursor(Qt::PointingHandCursor);
  auto* image2 = new QLabel;
  image2->setObjectName("Image2");
  image2->setPixmap(BannerRightPicture());
  connect(image1, &TClickablePicture::clicked, this, &TfrmMain::Image1Click);
  connect(image3, &TClickablePicture::clicked, this, &TfrmMain::Image1Click);
  auto* row = new QHBoxLayout(banner);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(image1);
  row->addWidget(image3, 1);
  row->addWidget(image2);
  return banner;
}

QPushButton* TfrmMain::MakeButton(const QString& name, const QString& caption,
                                  const QString& hint) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  button->setToolTip(hint);
  button->setMinimumWidth(96);
  return button;
}

QWidget* TfrmMain::MakeFileArea() {
  auto* area = new QWidget;
  lvFiles_ = new QTableWidget(0, 3);
  lvFiles_->setObjectName("lvFiles");
  lvFiles_->setHorizontalHeaderLabels({"Source", "Status", "Path"});
  lvFiles_->setShowGrid(true);
  lvFiles_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles_->setSelectionMode(QAbstractItemView::SingleSelection);
  lvFiles_->verticalHeader()->hide();
  lvFiles_->verticalHeader()->setDefaultSectionSize(22);
  lvFiles_->horizontalHeader()->setStretchLastSection(true);
  lvFiles_->horizontalHeader()->setHighlightSections(false);
  lvFiles_->setColumnWidth(0, 333);
  lvFiles_->setColumnWidth(1, 199);
  lvFiles_->setWordWrap(false);
  lvFiles_->setItemDelegateForColumn(1, new TProgressDelegate(lvFiles_));
  lvFiles_->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFiles_->viewport()->setAcceptDrops(true);
  lvFiles_->viewport()->installEventFilter(this);

  btnOpen_ = MakeButton("btnOpen", "Add...", "Open one or more videos to the list");
  btnRemove_ = MakeButton("btnRemove", "Remove", "Remove selected video from the list");
  btnClear_ = MakeButton("btnClear", "Clear", "Remove selected video from the list");
  btnPause_ = MakeButton("btnPause", "Pause", "Suspend the conversion job temporarily");
  btnPause_->hide();
  btnConvert_ = MakeButton("btnConvert", "Convert!", "Convert all the videos from the list");
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {btnOpen_, btnRemove_, btnClear_}) buttons->addWidget(button);
  buttons->addStretch();
  buttons->addWidget(btnPause_);
  buttons->addWidget(btnConvert_);

  selFormat_ = new QComboBox;
  selFormat_->setObjectName("selFormat");
  selFormat_->addItem("Click to select");
  for (const TOutputProfile& profile : OutputProfiles()) selFormat_->addItem(profile.Caption);
  btnOptions_ = MakeButton("btnOptions", "Options", "");
  txtOutput_ = new QLineEdit;
  txtOutput_->setObjectName("txtOutput");
  txtOutput_->setReadOnly(true);
  txtOutput_->installEventFilter(this);
  btnFolderChange_ = MakeButton("btnFolderChange", "Change", "");
  btnBrowse_ = MakeButton("btnBrowse", "Browse", "");
  chkSameFolder_ = new QCheckBox("Use the same directory to the source file");
  chkSameFolder_->setObjectName("chkSameFolder");

  auto* grid = new QGridLayout(area);
  grid->setContentsMargins(10, 10, 10, 8);
  grid->addWidget(lvFiles_, 0, 0, 1, 4);
  grid->addLayout(buttons, 0, 4);
  grid->addWidget(MakeLabel("StaticText1", "Output Format:"), 1, 0);
  grid->addWidget(selFormat_, 1, 1, 1, 2);
  grid->addWidget(btnOptions_, 1, 3);
  grid->addWidget(MakeLabel("StaticText2", "Output Folder:"), 2, 0);
  grid->addWidget(txtOutput_, 2, 1);
  grid->addWidget(btnFolderChange_, 2, 2);
  grid->addWidget(btnBrowse_, 2, 3);
  grid->addWidget(chkSameFolder_, 3, 1, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(0, 1);
  return area;
}

void TfrmMain::MakePopupMenu() {
  suiPopupMenu1_ = new QMenu(this);
  suiPopupMenu1_->setObjectName("suiPopupMenu1");
  QAction* addFiles = suiPopupMenu1_->addAction("Add File(s)");
  addFiles->setObjectName("AddFiles1");
  suiPopupMenu1_->addSeparator();
  QAction* remove = suiPopupMenu1_->addAction("Remove");
  remove->setObjectName("R1");
  QAction* clearAll = suiPopupMenu1_->addAction("Clear All");
  clearAll->setObjectName("ClearAll1");
  connect(addFiles, &QAction::triggered, this, &TfrmMain::btnOpenClick);
  connect(remove, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
  connect(clearAll, &QAction::triggered, this, &TfrmMain::btnClearClick);
  connect(lvFiles_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    suiPopupMenu1_->popup(lvFiles_->viewport()->mapToGlobal(position));
  });
}

void TfrmMain::ConnectHandlers() {
  connect(btnOpen_, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
  connect(btnRemove_, &QPushButton::clicked, this, &TfrmMain::btnRemoveClick);
  connect(btnClear_, &QPushButton::clicked, this, &TfrmMain::btnClearClick);
  connect(btnPause_, &QPushButton::clicked, this, &TfrmMain::btnPauseClick);
  connect(btnConvert_, &QPushButton::clicked, this, &TfrmMain::btnConvertClick);
  connect(btnOptions_, &QPushButton::clicked, this, &TfrmMain::btnOptionsClick);
  connect(btnFolderChange_, &QPushButton::clicked, this, &TfrmMain::btnFolderChangeClick);
  connect(btnBrowse_, &QPushButton::clicked, this, &TfrmMain::btnBrowseClick);
  connect(chkSameFolder_, &QCheckBox::toggled, this, &TfrmMain::chkSameFolderClick);
  connect(selFormat_, &QComboBox::currentIndexChanged, this, &TfrmMain::selFormatChange);
  connect(suiFormMain_, &TTitleBar::helpClicked, this, &TfrmMain::suiFormMainTitleBarHelpBtnClick);
  // Keeps the moving bars of sources of unknown length moving.
  movingBarTimer_ = new QTimer(this);
  movingBarTimer_->setInterval(80);
  connect(movingBarTimer_, &QTimer::timeout, lvFiles_->viewport(), qOverload<>(&QWidget::update));
}

void TfrmMain::ReadSettings() {
  QSettings settings(setup_.SettingsFile, QSettings::IniFormat);
  settings.beginGroup("Main");
  txtOutput_->setText(
      settings.value("strOutput", QString::fromStdString(DefaultOutputFolder())).toString());
  chkSameFolder_->setChecked(settings.value("booSameFolder", false).toBool());
  chkSameFolderClick();
}

void TfrmMain::WriteSettings() {
  QSettings settings(setup_.SettingsFile, QSettings::IniFormat);
  settings.beginGroup("Main");
  settings.setValue("strOutput", txtOutput_->text());
  settings.setValue("booSameFolder", chkSameFolder_->isChecked());
  settings.endGroup();
  settings.sync();
}

void TfrmMain::showEvent(QShowEvent* event) {
  suiFormMain_->SetCaption(windowTitle());
  QWidget::showEvent(event);
}

void TfrmMain::SetTitle(const QString& suffix) {
  setWindowTitle(AppTitle() + suffix);
  suiFormMain_->SetCaption(windowTitle());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  StopAndWait();
  WriteSettings();
  QWidget::closeEvent(event);
}

void TfrmMain::btnFolderChangeClick() {
  const QString folder = interaction_.ChooseFolder(this, "Select an Output Folder:");
  if (folder.isEmpty()) return;
  QString text = QDir::toNativeSeparators(folder);
  while (text.size() > 1 && text.endsWith('/')) text.chop(1);
  txtOutput_->setText(text);
}

void TfrmMain::btnBrowseClick() {
  interaction_.OpenUrl(txtOutput_->text());
}

void TfrmMain::chkSameFolderClick() {
  const bool ownFolder = !chkSameFolder_->isChecked();
  txtOutput_->setEnabled(ownFolder);
  btnFolderChange_->setEnabled(txtOutput_->isEnabled());
  btnBrowse_->setEnabled(ownFolder);
}

void TfrmMain::selFormatChange() {
  btnOptions_->setEnabled(true);
}

void TfrmMain::btnOptionsClick() {
  interaction_.RunModal(*frmOptions_);
}

void TfrmMain::suiFormMainTitleBarHelpBtnClick() {
  interaction_.OpenUrl(setup_.AppFolder + "help.html");
}

void TfrmMain::Image1Click() {
  interaction_.OpenUrl(MakerSite);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtOutput_ && event->type() == QEvent::MouseButtonDblClick) {
    if (txtOutput_->isEnabled()) btnFolderChangeClick();
    return true;
  }
  if (watched == lvFiles_->viewport()) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* drag = static_cast<QDropEvent*>(event);
      if (drag->mimeData()->hasUrls() && btnOpen_->isEnabled()) drag->acceptProposedAction();
      return true;
    }
    if (event->type() == QEvent::Drop) {
      auto* drop = static_cast<QDropEvent*>(event);
      QStringList files;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
      if (btnOpen_->isEnabled() && !files.isEmpty()) {
        drop->acceptProposedAction();
        AddFiles(files);
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

Qt::Edges TfrmMain::EdgesAt(const QPoint& position) const {
  Qt::Edges edges;
  if (isMaximized()) return edges;
  if (position.x() < ResizeMargin) edges |= Qt::LeftEdge;
  if (position.x() >= width() - ResizeMargin) edges |= Qt::RightEdge;
  if (position.y() < ResizeMargin) edges |= Qt::TopEdge;
  if (position.y() >= height() - ResizeMargin) edges |= Qt::BottomEdge;
  return edges;
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
    setCursor(Qt::SizeFDiagCursor);
  else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
    setCursor(Qt::SizeBDiagCursor);
  else if (edges & (Qt::LeftEdge | Qt::RightEdge))
    setCursor(Qt::SizeHorCursor);
  else if (edges & (Qt::TopEdge | Qt::BottomEdge))
    setCursor(Qt::SizeVerCursor);
  else
    unsetCursor();
  QWidget::mouseMoveEvent(event);
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && edges && windowHandle())
    windowHandle()->startSystemResize(edges);
  QWidget::mousePressEvent(event);
}
