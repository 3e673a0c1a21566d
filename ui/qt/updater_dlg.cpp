#include "ui/qt/updater_dlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include "ui/app_info.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/icon_paths.h"
#include "ui/qt/text_codec.h"
#include "ui/resource.h"

// The resources are compiled into a static library, so they are registered by name.
static void InitUpdaterResources() {
  Q_INIT_RESOURCE(actualizador);
}

namespace {

enum class Kind { kButton, kStatic, kEdit, kMultiEdit, kProgress };

// One control of the dialog template: identifier, kind, Windows-1252 text and position in dialog
// units, in tab order.
struct ControlTemplate {
  int id;
  const char* name;
  Kind kind;
  const char* text;
  int x, y, cx, cy;
  bool tabStop;
};

constexpr int kStaticId = -1;

constexpr ControlTemplate kControls[] = {
    {IDC_OPEN, "IDC_OPEN", Kind::kButton, "Abrir archivo", 20, 13, 52, 17, true},
    {kStaticId, "IDC_STATIC", Kind::kStatic, "Tama\xF1o", 136, 16, 32, 8, false},
    {IDC_SIZE, "IDC_SIZE", Kind::kEdit, "", 168, 14, 38, 14, false},
    {kStaticId, "IDC_STATIC", Kind::kStatic, "Enviado", 219, 16, 32, 8, false},
    {IDC_SENT, "IDC_SENT", Kind::kEdit, "", 250, 14, 38, 14, false},
    {IDC_PROGRAM, "IDC_PROGRAM", Kind::kButton, "Programar", 76, 13, 52, 17, false},
    {IDC_PROGRESS, "IDC_PROGRESS", Kind::kProgress, "Progress1", 20, 127, 280, 9, false},
    {IDC_FILE_VIEW, "IDC_FILE_VIEW", Kind::kMultiEdit, "", 20, 38, 145, 60, false},
    {IDC_RX_VIEW, "IDC_RX_VIEW", Kind::kMultiEdit, "", 170, 38, 145, 60, false},
    {IDC_STATE_LABEL, "IDC_STATE_LABEL", Kind::kStatic, "Estado", 20, 115, 25, 8, false},
    {IDC_INFO, "IDC_INFO", Kind::kStatic, "Info", 49, 115, 187, 8, false},
    {IDC_LOG, "IDC_LOG", Kind::kMultiEdit, "", 320, 38, 145, 60, false},
};

constexpr const char* kTemplateCaption = "Actualizador 47.913 v1";
constexpr const char* kTitle = "Actualizador 47913";
constexpr int kTemplateWidth = 472;
constexpr int kTemplateHeight = 154;
// IDS_ABOUTBOX
constexpr const char* kAboutMenuText = "Acerca de...";

const char* IdentifierProperty() {
  return "controlId";
}

int LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchY() + 0.5) : 96;
}

// A read-only edit looks like one: the window colour behind its text.
void LookReadOnly(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  widget->setPalette(palette);
}

bool IsInputOrClose(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close:
      return true;
    default:
      return false;
  }
}

}  // namespace

CUpdaterDlg::CUpdaterDlg(updater::PortDriver& driver, updater::Clock& clock,
                         updater::FileChooser& chooser, QWidget* parent)
    : QDialog(parent), m_chooser(chooser), m_core(*this, driver, clock) {
  if (auto* files = dynamic_cast<updater::QtFileChooser*>(&chooser))
    files->SetOwner(this);
  if (auto* systemClock = dynamic_cast<updater::SystemClock*>(&clock)) {
    systemClock->SetPumpHook(&CUpdaterDlg::PumpHook, this);
    m_pumpedClock = systemClock;
  }
  CreateFromTemplate();
  OnInitDialog();
}

CUpdaterDlg::~CUpdaterDlg() {
  if (m_pumpedClock != nullptr)
    m_pumpedClock->SetPumpHook(nullptr, nullptr);
  if (m_bRunning)
    qApp->removeEventFilter(this);
  if (m_bWaitCursor)
    QApplication::restoreOverrideCursor();
}

void CUpdaterDlg::CreateFromTemplate() {
  InitUpdaterResources();
  m_hIcon.addFile(QString::fromLatin1(updater::kIconPath32), QSize(32, 32));
  m_hIcon.addFile(QString::fromLatin1(updater::kIconPath16), QSize(16, 16));

  setObjectName(QStringLiteral("IDD_UPDATER_DIALOG"));
  // Caption, system menu and sizing border; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kTemplateCaption));
  const QFont font = updater::DialogFont(LogicalDpi());
  setFont(font);
  m_units = updater::BaseUnitsOf(font);
  resize(updater::MapDialogRect(m_units, 0, 0, kTemplateWidth, kTemplateHeight).size());

  for (const ControlTemplate& control : kControls) {
    const QString text = updater::QStringFromCp1252(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case Kind::kButton: {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this,
                control.id == IDC_OPEN ? &CUpdaterDlg::OnOpenFile : &CUpdaterDlg::OnProgram);
        widget = button;
        break;
      }
      case Kind::kStatic: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case Kind::kEdit: {
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly(true);
        LookReadOnly(edit);
        widget = edit;
        break;
      }
      case Kind::kMultiEdit: {
        auto* edit = new QPlainTextEdit(text, this);
        edit->setReadOnly(true);
        LookReadOnly(edit);
        widget = edit;
        break;
      }
      case Kind::kProgress: {
        m_progressBar = new QProgressBar(this);
        m_progressBar->setTextVisible(false);
        m_progressBar->setAccessibleName(text);
        widget = m_progressBar;
        break;
      }
    }
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setProperty(IdentifierProperty(), control.id);
    widget->setGeometry(
        updater::MapDialogRect(m_units, control.x, control.y, control.cx, control.cy));
    // Only tab stops take focus by Tab; the rest, as in a dialog, only by a click.
    if (control.tabStop)
      widget->setFocusPolicy(Qt::StrongFocus);
    else if (control.kind == Kind::kStatic || control.kind == Kind::kProgress)
      widget->setFocusPolicy(Qt::NoFocus);
    else
      widget->setFocusPolicy(Qt::ClickFocus);
    // Right clicks anywhere open the window's menu.
    widget->setContextMenuPolicy(Qt::NoContextMenu);
  }
  ApplyProgress();
}

void CUpdaterDlg::OnInitDialog() {
  m_core.m_report.TransferCounts();
  setWindowIcon(m_hIcon);
  Enable(IDC_PROGRAM, false);
  m_core.InitState();

  GetDlgItem(IDC_FILE_VIEW)->hide();
  GetDlgItem(IDC_RX_VIEW)->hide();
  GetDlgItem(IDC_LOG)->hide();

  GetDlgItem(IDC_STATE_LABEL)->setGeometry(100, 100, 80, 20);
  GetDlgItem(IDC_INFO)->setGeometry(180, 100, 400, 20);
  GetDlgItem(IDC_PROGRESS)->setGeometry(100, 120, 400, 20);

  PlaceWindow();

  GetDlgItem(IDC_PROGRESS)->show();
  setWindowTitle(QString::fromLatin1(kTitle));
  GetDlgItem(IDC_OPEN)->setFocus();
}

void CUpdaterDlg::PlaceWindow() {
  // The window's outer rectangle, frame included once the window system reports one.
  const QRect frame(100, 200, 600, 200);
  move(frame.topLeft());
  resize(frame.size() - (frameGeometry().size() - geometry().size()));
}

void CUpdaterDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Some window systems know the frame from the first showing, others (X11 window managers)
  // once the window is first exposed: place the window again at both times.
  if (!m_bShown && !event->spontaneous()) {
    m_bShown = true;
    PlaceWindow();
    if (QWindow* window = windowHandle())
      window->installEventFilter(this);
  }
}

QWidget* CUpdaterDlg::GetDlgItem(int id) const {
  const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    const QVariant value = child->property(IdentifierProperty());
    if (value.isValid() && value.toInt() == id && id != kStaticId)
      return child;
  }
  return nullptr;
}

void CUpdaterDlg::SetControlText(int id, const QString& text) {
  QWidget* widget = GetDlgItem(id);
  if (auto* label = qobject_cast<QLabel*>(widget))
    label->setText(text);
  else if (auto* line = qobject_cast<QLineEdit*>(widget))
    line->setText(text);
  else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
    plain->setPlainText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(widget))
    button->setText(text);
}

void CUpdaterDlg::SetText(int id, std::string_view text) {
  SetControlText(id, updater::QStringFromCp1252(text));
}

void CUpdaterDlg::SetNumber(int id, std::uint32_t value) {
  SetControlText(id, QString::number(value));
}

void CUpdaterDlg::SetSignedNumber(int id, std::int32_t value) {
  SetControlText(id, QString::number(value));
}

void CUpdaterDlg::Enable(int id, bool enabled) {
  if (QWidget* widget = GetDlgItem(id))
    widget->setEnabled(enabled);
}

void CUpdaterDlg::SetProgressRange(std::uint16_t upper) {
  m_progress.SetRange(upper);
  ApplyProgress();
}

void CUpdaterDlg::SetProgressStep(int step) {
  m_progress.SetStep(step);
  ApplyProgress();
}

void CUpdaterDlg::SetProgressPos(int position) {
  m_progress.SetPos(position);
  ApplyProgress();
}

void CUpdaterDlg::StepProgress() {
  m_progress.StepIt();
  ApplyProgress();
}

void CUpdaterDlg::ApplyProgress() {
  // Qt shows a busy animation for a 0..0 range; 0..1 at 0 is the empty bar this range means.
  const int upper = m_progress.upper();
  m_progressBar->setRange(m_progress.lower(), upper > m_progress.lower() ? upper : 1);
  m_progressBar->setValue(m_progress.position());
}

void CUpdaterDlg::ShowMessageBox(std::string_view text) {
  // The wait cursor belongs to the window, not to the box the operator has to answer.
  const bool wait = m_bWaitCursor;
  if (wait)
    QApplication::restoreOverrideCursor();
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(updater::kApplicationName),
                  updater::QStringFromCp1252(text), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
  box.exec();
  if (wait)
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CUpdaterDlg::SetCursor(updater::CursorShape shape) {
  if (shape == updater::CursorShape::kWait) {
    if (!m_bWaitCursor)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bWaitCursor = true;
  } else {
    if (m_bWaitCursor)
      QApplication::restoreOverrideCursor();
    m_bWaitCursor = false;
  }
}

void CUpdaterDlg::OnOpenFile() {
  if (m_bRunning)
    return;
  m_core.OnOpenFile(m_chooser);
}

void CUpdaterDlg::OnProgram() {
  // A run started from within a run (a click that got through, a timer) is refused.
  if (m_bRunning)
    return;
  m_bRunning = true;
  qApp->installEventFilter(this);
  m_core.OnProgram();
  qApp->removeEventFilter(this);
  m_bRunning = false;
}

void CUpdaterDlg::PumpHook(void* dlg) {
  static_cast<CUpdaterDlg*>(dlg)->PumpEvents();
}

void CUpdaterDlg::PumpEvents() {
  // Everything runs, so painting, timers and the window manager's pings are served; the filter
  // drops what the operator does to this window meanwhile (excluding user input would only defer
  // it until after the run).
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool CUpdaterDlg::IsOwnInput(QObject* watched) const {
  if (watched->isWidgetType())
    return static_cast<QWidget*>(watched)->window() == this;
  if (watched->isWindowType())
    return watched == windowHandle();
  return false;
}

bool CUpdaterDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose && !m_bExposed) {
    m_bExposed = true;
    PlaceWindow();
  }
  if (m_bRunning && IsInputOrClose(event->type()) && IsOwnInput(watched)) {
    if (event->type() == QEvent::Close)
      event->ignore();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CUpdaterDlg::FillSystemMenu(QMenu& menu) {
  menu.setSeparatorsCollapsible(false);
  menu.addSeparator();
  QAction* about = menu.addAction(updater::QStringFromCp1252(kAboutMenuText));
  about->setObjectName(QStringLiteral("IDM_ABOUTBOX"));
  about->setData(IDM_ABOUTBOX);
}

void CUpdaterDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillSystemMenu(menu);
  const QAction* chosen = menu.exec(event->globalPos());
  if (chosen != nullptr)
    OnSysCommand(chosen->data().toUInt());
}

void CUpdaterDlg::OnSysCommand(unsigned nID) {
  if ((nID & 0xFFF0u) == IDM_ABOUTBOX) {
    CAboutDlg about(m_hIcon, this);
    about.exec();
  }
}
