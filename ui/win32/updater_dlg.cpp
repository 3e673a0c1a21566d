#include "ui/win32/updater_dlg.h"

#include <commctrl.h>

#include <cstring>

#include "model/dialog_template.h"
#include "model/localized.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/dialog_language.h"
#include "ui/win32/resource.h"

namespace {

struct MessageRange {
  UINT first;
  UINT last;
};

// What the operator does to the windows while a run lasts: keys, the mouse over client and
// frame (the close box among it), and the close and system-menu requests that the window system
// posts.
constexpr MessageRange kDroppedDuringRun[] = {
    {WM_KEYFIRST, WM_KEYLAST},
    {WM_MOUSEFIRST, WM_MOUSELAST},
    {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
    {WM_NCMOUSEHOVER, WM_MOUSELEAVE},
    {WM_CLOSE, WM_CLOSE},
    {WM_SYSCOMMAND, WM_SYSCOMMAND},
    {WM_INPUT, WM_INPUT},
};
// Bounds each look at the queue, so a flood of input or a window that never validates its
// paint cannot hold a wait slice for long.
constexpr int kMaxPerPump = 256;

HINSTANCE ModuleOrDefault(HINSTANCE instance) {
  return instance != nullptr ? instance : GetModuleHandleA(nullptr);
}

void EnsureCommonControls() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

}  // namespace

CUpdaterDlg::CUpdaterDlg(updater::PortDriver& driver, updater::Clock& clock,
                         updater::FileChooser& chooser, HINSTANCE instance)
    : m_chooser(chooser),
      m_hInstance(ModuleOrDefault(instance)),
      m_model(*this, clock),
      m_core(m_model, driver, clock) {
  m_hIcon = LoadIconA(m_hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CUpdaterDlg::~CUpdaterDlg() {
  if (m_hWnd != nullptr && !m_bModal)
    DestroyWindow(m_hWnd);
}

INT_PTR CUpdaterDlg::DoModal(HWND parent) {
  if (m_hWnd != nullptr)
    return -1;
  EnsureCommonControls();
  m_bModal = true;
  const INT_PTR result = DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(IDD_UPDATER_DIALOG), parent,
                                         &CUpdaterDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  m_bModal = false;
  m_hWnd = nullptr;
  return result;
}

HWND CUpdaterDlg::Create(HWND parent) {
  if (m_hWnd != nullptr)
    return nullptr;
  EnsureCommonControls();
  m_bModal = false;
  return CreateDialogParamA(m_hInstance, MAKEINTRESOURCEA(IDD_UPDATER_DIALOG), parent,
                            &CUpdaterDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CUpdaterDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CUpdaterDlg* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CUpdaterDlg*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->m_hWnd = hwnd;
  } else {
    self = reinterpret_cast<CUpdaterDlg*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (self == nullptr)
    return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return FALSE;
  }
  return self->OnMessage(message, wParam, lParam);
}

INT_PTR CUpdaterDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_SYSCOMMAND:
      return OnSysCommand(static_cast<UINT>(wParam), lParam) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the messages whose result a dialog procedure returns directly.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_COMMAND:
      return OnCommand(wParam) ? TRUE : FALSE;
    case WM_CLOSE:
      // Refused while a run lasts; otherwise the default turns it into IDCANCEL.
      return IsRunning() ? TRUE : FALSE;
    case WM_SETCURSOR:
      if (m_bWaitCursor) {
        ::SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL CUpdaterDlg::OnInitDialog() {
  ShowInChosenLanguage(m_hWnd, updater::kMainDialog);
  // The bound counts, both 0, into their fields.
  m_core.m_report.TransferCounts();

  // IDM_ABOUTBOX is a multiple of 16 below the system commands.
  static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000);
  if (HMENU sysMenu = GetSystemMenu(m_hWnd, FALSE)) {
    char about[64] = {};
    if (LoadStringA(m_hInstance, IDS_ABOUTBOX, about, sizeof about) > 0) {
      AppendMenuA(sysMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(sysMenu, MF_STRING, IDM_ABOUTBOX, updater::Localized(about));
    }
  }

  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  m_model.Enable(IDC_PROGRAM, false);
  m_core.InitState();
  if (auto* files = dynamic_cast<Win32FileChooser*>(&m_chooser))
    files->SetOwner(m_hWnd);

  const updater::OpeningMoves& moves = updater::kMainDialogOpening;
  for (const int id : moves.hidden)
    ShowWindow(GetDlgItem(m_hWnd, id), SW_HIDE);
  for (const updater::ControlMove& move : moves.moved)
    MoveWindow(GetDlgItem(m_hWnd, move.id), move.to.x, move.to.y, move.to.cx, move.to.cy, TRUE);
  const updater::PixelRect& window = moves.window;
  MoveWindow(m_hWnd, window.x, window.y, window.cx, window.cy, TRUE);

  ShowWindow(GetDlgItem(m_hWnd, moves.shown), SW_SHOW);
  SetWindowTextA(m_hWnd, updater::kApplicationTitle);
  // Nonzero: the dialog manager gives the focus to the first tab stop, "Abrir archivo".
  return TRUE;
}

bool CUpdaterDlg::OnSysCommand(UINT nID, LPARAM) {
  const UINT command = nID & 0xFFF0u;
  if (IsRunning() && (command == SC_CLOSE || command == IDM_ABOUTBOX))
    return true;
  if (command == IDM_ABOUTBOX) {
    CAboutDlg about(m_hInstance);
    about.DoModal(m_hWnd);
    return true;
  }
  return false;
}

POINT CUpdaterDlg::IconOrigin(int width, int height, int cxIcon, int cyIcon) {
  return POINT{(width - cxIcon + 1) / 2, (height - cyIcon + 1) / 2};
}

bool CUpdaterDlg::OnPaint() {
  if (!IsIconic(m_hWnd))
    return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rect;
  GetClientRect(m_hWnd, &rect);
  const POINT at = IconOrigin(rect.right - rect.left, rect.bottom - rect.top,
                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc, at.x, at.y, m_hIcon);
  EndPaint(m_hWnd, &paint);
  return true;
}

bool CUpdaterDlg::OnCommand(WPARAM wParam) {
  const WORD id = LOWORD(wParam);
  const WORD code = HIWORD(wParam);
  switch (id) {
    case IDC_OPEN:
      if (code == BN_CLICKED)
        OnOpenFile();
      return true;
    case IDC_PROGRAM:
      if (code == BN_CLICKED)
        OnProgram();
      return true;
    case IDOK:
    case IDCANCEL:
      // The default handling ends the window, except in the middle of a run.
      if (!IsRunning())
        EndWith(id);
      return true;
    default:
      return false;
  }
}

void CUpdaterDlg::EndWith(INT_PTR result) {
  if (m_bModal)
    EndDialog(m_hWnd, result);
  else
    DestroyWindow(m_hWnd);
}

void CUpdaterDlg::OnOpenFile() {
  m_model.OnOpenFile([this] { m_core.OnOpenFile(m_chooser); });
}

void CUpdaterDlg::OnProgram() {
  m_model.OnProgram([this] { m_core.OnProgram(); });
}

void CUpdaterDlg::RunEnded() {
  // Input made after the last wait of the run is the run's too.
  DropInput();
}

std::uint32_t CUpdaterDlg::PumpHook(void* dlg) {
  return static_cast<CUpdaterDlg*>(dlg)->m_model.Pump();
}

bool CUpdaterDlg::EventsPending() {
  // A look that removes nothing and waits for nothing. It also lets the system take in what the
  // window system holds for the thread (under Wine: X events, and the window's drawing flushed),
  // as an empty PeekMessage does, where a pass of the pump would cost a dozen queue queries.
  return MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
         WAIT_OBJECT_0;
}

std::uint32_t CUpdaterDlg::ServeIntervalMs() const {
  // The look at the queue is cheap on Windows, but under Wine it is a round trip to the Wine
  // server, and the read pumps before each of its waits: about once a byte while the echo
  // streams in. A busy machine serves some of those trips late, and a byte that arrives during
  // one waits for it.
  return updater::kScreenRefreshMs;
}

void CUpdaterDlg::DropInput() {
  MSG msg;
  for (const MessageRange& range : kDroppedDuringRun) {
    for (int i = 0; i < kMaxPerPump &&
                    PeekMessageA(&msg, nullptr, range.first, range.last, PM_REMOVE | PM_NOYIELD);
         ++i) {
    }
  }
}

void CUpdaterDlg::ServeEvents() {
  // Looking at the queue often enough is also what keeps the window system from marking the
  // window as not responding.
  DropInput();
  MSG msg;
  for (int i = 0; i < kMaxPerPump && PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
       ++i) {
    DispatchMessageA(&msg);
  }
  for (int i = 0; i < kMaxPerPump && PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
       ++i) {
    DispatchMessageA(&msg);
  }
}

const char* CUpdaterDlg::Terminated(std::string_view text) {
  const std::size_t length = text.size() < sizeof m_text ? text.size() : sizeof m_text - 1;
  if (length > 0)
    std::memcpy(m_text, text.data(), length);
  m_text[length] = '\0';
  return m_text;
}

void CUpdaterDlg::SetText(int id, std::string_view text) {
  if (m_hWnd != nullptr)
    SetDlgItemTextA(m_hWnd, id, Terminated(text));
}

void CUpdaterDlg::SetNumber(int id, std::uint32_t value) {
  if (m_hWnd != nullptr)
    SetDlgItemInt(m_hWnd, id, value, FALSE);
}

void CUpdaterDlg::SetSignedNumber(int id, std::int32_t value) {
  if (m_hWnd != nullptr)
    SetDlgItemInt(m_hWnd, id, static_cast<UINT>(value), TRUE);
}

void CUpdaterDlg::Enable(int id, bool enabled) {
  if (m_hWnd != nullptr)
    EnableWindow(GetDlgItem(m_hWnd, id), enabled ? TRUE : FALSE);
}

void CUpdaterDlg::SetProgressRange(std::uint16_t upper) {
  m_progress.SetRange(upper);
  if (m_hWnd == nullptr)
    return;
  SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
  ApplyProgressPos();
}

void CUpdaterDlg::SetProgressStep(int step) {
  m_progress.SetStep(step);
  if (m_hWnd != nullptr)
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void CUpdaterDlg::SetProgressPos(int position) {
  m_progress.SetPos(position);
  if (m_hWnd != nullptr)
    ApplyProgressPos();
}

void CUpdaterDlg::StepProgress() {
  m_progress.StepIt();
  if (m_hWnd == nullptr)
    return;
  SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_STEPIT, 0, 0);
  // Versions of the control differ in how they wrap, above all for an empty range (0 to 0, a
  // 65,536-byte image): the model's position is the one shown.
  ApplyProgressPos();
}

void CUpdaterDlg::ApplyProgressPos() {
  const int position = m_progress.position();
  if (SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_GETPOS, 0, 0) != position)
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CUpdaterDlg::ShowMessageBox(std::string_view text) {
  MessageBoxA(m_hWnd, Terminated(text), updater::kApplicationName, MB_OK);
}

void CUpdaterDlg::SetCursor(updater::CursorShape shape) {
  m_bWaitCursor = shape == updater::CursorShape::kWait;
  ::SetCursor(LoadCursorA(nullptr, m_bWaitCursor ? IDC_WAIT : IDC_ARROW));
}
