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

#include "model/app_info.h"
#include "model/dialog_template.h"
#include "model/localized.h"
#include "model/resource.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/icon_paths.h"
#include "ui/qt/text_codec.h"

// The resources are compiled into a static library, so they are registered by name.
static void InitUpdaterResources() {
  Q_INIT_RESOURCE(actualizador);
}

namespace {

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
    : QDialog(parent), m_chooser(chooser), m_model(*this, clock), m_core(m_model, driver, clock) {
  if (auto* files = dynamic_cast<updater::QtFileChooser*>(&chooser))
    files->SetOwner(this);
  CreateFromTemplate();
  OnInitDialog();
}

CUpdaterDlg::~CUpdaterDlg() {
  if (m_model.running())
    qApp->removeEventFilter(this);
  if (m_bWaitCursor)
    QApplication::restoreOverrideCursor();
}

void CUpdaterDlg::CreateFromTemplate() {
  InitUpdaterResources();
  m_hIcon.addFile(QString::fromLatin1(updater::kIconPath32), QSize(32, 32));
  m_hIcon.addFile(QString::fromLatin1(updater::kIconPath16), QSize(16, 16));

  const updater::DialogTemplate& dialog = updater::kMainDialog;
  setObjectName(QString::fromLatin1(dialog.name));
  // Caption, system menu and sizing border; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(updater::QStringFromCp1252(updater::Localized(dialog.caption)));
  const QFont font = updater::DialogFont(dialog, LogicalDpi());
  setFont(font);
  m_units = updater::BaseUnitsOf(font);
  resize(updater::MapDialogRect(m_units, 0, 0, dialog.cx, dialog.cy).size());

  using updater::ControlClass;
  for (const updater::ControlTemplate& control : dialog.controls) {
    const QString text = updater::QStringFromCp1252(updater::ShownText(control));
    QWidget* widget = nullptr;
    switch (control.windowClass) {
      case ControlClass::kButton: {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this,
                control.id == IDC_OPEN ? &CUpdaterDlg::OnOpenFile : &CUpdaterDlg::OnProgram);
        widget = button;
        break;
      }
      case ControlClass::kStatic: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlClass::kEdit: {
        // Every edit of the template is read-only.
        if ((control.style & updater::dialog_style::kMultiLine) != 0) {
          auto* edit = new QPlainTextEdit(text, this);
          edit->setReadOnly(true);
          widget = edit;
        } else {
          auto* edit = new QLineEdit(text, this);
          edit->setReadOnly(true);
          widget = edit;
        }
        LookReadOnly(widget);
        break;
      }
      case ControlClass::kProgress: {
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
    if ((control.style & updater::dialog_style::kTabStop) != 0)
      widget->setFocusPolicy(Qt::StrongFocus);
    else if (control.windowClass == ControlClass::kStatic ||
             control.windowClass == ControlClass::kProgress)
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
  m_model.Enable(IDC_PROGRAM, false);
  m_core.InitState();

  const updater::OpeningMoves& moves = updater::kMainDialogOpening;
  for (const int id : moves.hidden)
    GetDlgItem(id)->hide();
  for (const updater::ControlMove& move : moves.moved)
    GetDlgItem(move.id)->setGeometry(move.to.x, move.to.y, move.to.cx, move.to.cy);

  PlaceWindow();

  GetDlgItem(moves.shown)->show();
  setWindowTitle(QString::fromLatin1(updater::kApplicationTitle));
  GetDlgItem(IDC_OPEN)->setFocus();
}

void CUpdaterDlg::PlaceWindow() {
  // The window's outer rectangle, frame included once the window system reports one.
  const updater::PixelRect& window = updater::kMainDialogOpening.window;
  const QRect frame(window.x, window.y, window.cx, window.cy);
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
    if (value.isValid() && value.toInt() == id && id != updater::kStaticId)
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
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(updater::kApplicationName),
                  updater::QStringFromCp1252(text), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.button(QMessageBox::Ok)->setText(updater::QStringFromCp1252(updater::Localized("Aceptar")));
  box.exec();
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
  m_model.OnOpenFile([this] { m_core.OnOpenFile(m_chooser); });
}

void CUpdaterDlg::OnProgram() {
  m_model.OnProgram([this] { m_core.OnProgram(); });
}

void CUpdaterDlg::RunStarting() {
  qApp->installEventFilter(this);
}

void CUpdaterDlg::RunEnded() {
  qApp->removeEventFilter(this);
}

std::uint32_t CUpdaterDlg::PumpHook(void* dlg) {
  return static_cast<CUpdaterDlg*>(dlg)->m_model.Pump();
}

bool CUpdaterDlg::EventsPending() {
  // Qt offers no look at its queues short of a pass (its window-system events are read by a
  // thread of its own, so the connection's descriptor tells nothing either): say yes, and let the
  // interval below keep the passes few.
  return true;
}

std::uint32_t CUpdaterDlg::ServeIntervalMs() const {
  // A pass costs about as much when it finds nothing (the event loop's sources prepared, polled
  // and checked) as the line's own work for a byte, and the line wakes the run every couple of
  // milliseconds while echoes stream in.
  return updater::kScreenRefreshMs;
}

void CUpdaterDlg::ServeEvents() {
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
  if (m_model.running() && IsInputOrClose(event->type()) && IsOwnInput(watched)) {
    if (event->type() == QEvent::Close)
      event->ignore();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CUpdaterDlg::FillSystemMenu(QMenu& menu) {
  menu.setSeparatorsCollapsible(false);
  menu.addSeparator();
  QAction* about =
      menu.addAction(updater::QStringFromCp1252(updater::Localized(updater::kAboutMenuText)));
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
