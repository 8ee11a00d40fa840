#include "front/win32_main_window.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs; the lean windows.h leaves the common dialogs out.
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace cubesec {
namespace {

// Control identifiers: the buttons, then txtParm(0..3).
constexpr int kDumpItId = 100;
constexpr int kRestoreItId = 101;
constexpr int kCancelId = 102;
constexpr int kBrowseId = 103;
constexpr int kNoticeId = 104;
constexpr int kFirstFieldId = 200;
// Posted after a field got the focus, so that a click's own cursor placement comes first.
constexpr UINT kSelectFieldMessage = WM_APP + 1;

// Layout in pixels of the client area.
constexpr int kMargin = 12;
constexpr int kRowHeight = 30;
constexpr int kLabelWidth = 84;
constexpr int kFieldX = kMargin + kLabelWidth;
constexpr int kFieldWidth = 220;
constexpr int kBrowseX = kFieldX + kFieldWidth + 6;
constexpr int kBrowseWidth = 80;
constexpr int kHintX = kBrowseX + kBrowseWidth + 12;
constexpr int kClientWidth = 780;
constexpr int kTextWidth = kClientWidth - 2 * kMargin;
constexpr int kButtonHeight = 26;
// The batch help's grid: what comes before the switches, then one column per switch, each
// under its heading.
constexpr int kLeadWidth = 160;
constexpr int kSwitchWidth = 110;
constexpr int kNoticeHeight = 32;

constexpr char kWindowClass[] = "cubesecMainWindow";

FormButton ButtonOfId(int id) {
  if (id == kDumpItId) return FormButton::kDumpIt;
  if (id == kRestoreItId) return FormButton::kRestoreIt;
  return FormButton::kCancel;
}

class MainWindow {
 public:
  explicit MainWindow(MainWindowModel& model) : model_(model) {}
  ~MainWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    if (bold_font_ != nullptr) DeleteObject(bold_font_);
  }
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  bool Run();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  HWND AddControl(const char* kind, const std::string& text, DWORD style, int x, int y, int width,
                  int height, int id = 0, HFONT font = nullptr);
  void OnCommand(int id, int code, HWND control);
  int FieldIndexOf(HWND control) const;
  // After a button or key: why a command was not taken, and the field it needs.
  void ShowNotice();
  void Browse();

  MainWindowModel& model_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  std::array<HWND, MainWindowModel::kFieldCount> fields_{};
  HWND notice_ = nullptr;
  HWND focus_before_deactivation_ = nullptr;
  bool activated_once_ = false;
};

HWND MainWindow::AddControl(const char* kind, const std::string& text, DWORD style, int x, int y,
                            int width, int height, int id, HFONT font) {
  const DWORD ex_style = std::string_view(kind) == "EDIT" ? WS_EX_CLIENTEDGE : 0;
  HWND control = CreateWindowExA(
      ex_style, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height, window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  if (control != nullptr) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : font_), FALSE);
  }
  return control;
}

void MainWindow::CreateControls() {
  // Each label comes just before its field, so that its access key moves the focus there.
  for (int i = 0; i < MainWindowModel::kFieldCount; ++i) {
    const int y = kMargin + i * kRowHeight;
    AddControl("STATIC", std::string(MainWindowModel::FieldLabel(i)), SS_LEFT, kMargin, y + 3,
               kLabelWidth, 20);
    DWORD style = WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_LEFT;
    if (i == MainWindowModel::kPassword) style |= ES_PASSWORD;
    fields_[i] =
        AddControl("EDIT", model_.Field(i), style, kFieldX, y, kFieldWidth, 23, kFirstFieldId + i);
    if (i == MainWindowModel::kDumpFile) {
      AddControl("BUTTON", "&Browse...", WS_TABSTOP | BS_PUSHBUTTON, kBrowseX, y, kBrowseWidth, 23,
                 kBrowseId);
    }
    // Help texts hold "&" only as text, never as an access key.
    AddControl("STATIC", model_.Info(i), SS_LEFT | SS_NOPREFIX, kHintX, y + 3,
               kClientWidth - kHintX - kMargin, 20);
  }

  int y = kMargin + MainWindowModel::kFieldCount * kRowHeight + 4;
  AddControl("STATIC", "", SS_ETCHEDHORZ, kMargin, y, kTextWidth, 2);  // Line1
  y += 10;
  AddControl("STATIC", model_.Info(MainWindowModel::kFirstHelpLine), SS_LEFT | SS_NOPREFIX, kMargin,
             y, kTextWidth, 18);
  y += 22;
  // The batch lines in cells, each heading over the switch it names.
  const int first_line = MainWindowModel::kFirstHelpLine + 1;
  const std::vector<std::string> columns = MainWindowModel::HelpLineCells(model_.Info(first_line));
  for (int h = 0; h < MainWindowModel::kHeadingCount; ++h) {
    const int column = MainWindowModel::HeadingColumn(h, columns);
    if (column < 1) continue;
    AddControl("STATIC", model_.Info(MainWindowModel::kFirstHeading + h), SS_LEFT | SS_NOPREFIX,
               kMargin + kLeadWidth + (column - 1) * kSwitchWidth, y, kSwitchWidth - 4, 18, 0,
               bold_font_);
  }
  y += 22;
  for (int line = 0; line < 2; ++line) {
    const std::vector<std::string> cells =
        MainWindowModel::HelpLineCells(model_.Info(first_line + line));
    AddControl("STATIC", cells.front(), SS_LEFT | SS_NOPREFIX, kMargin, y, kLeadWidth - 4, 18);
    for (size_t c = 1; c < cells.size(); ++c) {
      AddControl("STATIC", cells[c], SS_LEFT | SS_NOPREFIX,
                 kMargin + kLeadWidth + static_cast<int>(c - 1) * kSwitchWidth, y, kSwitchWidth - 4,
                 18);
    }
    y += 20;
  }
  AddControl("STATIC", model_.Info(MainWindowModel::kFirstHelpLine + 3), SS_LEFT | SS_NOPREFIX,
             kMargin, y, kTextWidth, 18);
  y += 20;
  AddControl("STATIC", std::string(MainWindowModel::kResetKeyHelp), SS_LEFT | SS_NOPREFIX, kMargin,
             y, kTextWidth, 34);
  y += 40;
  AddControl("STATIC", "", SS_ETCHEDHORZ, kMargin, y, kTextWidth, 2);  // Line2
  y += 8;
  notice_ = AddControl("STATIC", model_.notice(), SS_LEFT | SS_NOPREFIX, kMargin, y, kTextWidth,
                       kNoticeHeight, kNoticeId);
  if (model_.notice().empty()) ShowWindow(notice_, SW_HIDE);
  y += kNoticeHeight + 4;

  // Right-aligned, in the order Dump, Restore, Cancel. Dump is the default button: Enter
  // presses it, the one command that changes nothing on the server.
  const struct {
    int id;
    FormButton button;
    int width;
  } buttons[] = {{kDumpItId, FormButton::kDumpIt, 136},
                 {kRestoreItId, FormButton::kRestoreIt, 136},
                 {kCancelId, FormButton::kCancel, 90}};
  int x = kClientWidth - kMargin;
  for (const auto& b : buttons) x -= b.width + 8;
  x += 8;
  for (const auto& b : buttons) {
    const DWORD kind = b.id == kDumpItId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    AddControl("BUTTON", std::string(MainWindowModel::ButtonCaption(b.button)), WS_TABSTOP | kind,
               x, y, b.width, kButtonHeight, b.id);
    x += b.width + 8;
  }
}

void MainWindow::ShowNotice() {
  if (model_.hidden() || model_.notice().empty()) return;
  SetWindowTextA(notice_, model_.notice().c_str());
  ShowWindow(notice_, SW_SHOW);
  SetFocus(fields_[model_.FocusTarget()]);
}

void MainWindow::Browse() {
  HWND field = fields_[MainWindowModel::kDumpFile];
  // The dialog starts from the field's text and writes its choice into the same buffer.
  std::vector<char> path(MAX_PATH * 4, '\0');
  const std::string& current = model_.Field(MainWindowModel::kDumpFile);
  current.copy(path.data(), std::min(current.size(), path.size() - 1));
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = "Dump File";
  // A dump writes a new file and a restore reads an existing one: neither is refused here.
  dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetSaveFileNameA(&dialog)) SetWindowTextA(field, path.data());
  SetFocus(field);
}

int MainWindow::FieldIndexOf(HWND control) const {
  for (int i = 0; i < MainWindowModel::kFieldCount; ++i) {
    if (fields_[i] == control) return i;
  }
  return -1;
}

void MainWindow::OnCommand(int id, int code, HWND control) {
  if (const int index = FieldIndexOf(control); index >= 0 && control != nullptr) {
    if (code == EN_CHANGE) {
      std::vector<char> text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1);
      const int length = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
      model_.SetField(index, std::string(text.data(), length > 0 ? length : 0));
    } else if (code == EN_SETFOCUS) {
      PostMessageA(window_, kSelectFieldMessage, static_cast<WPARAM>(index), 0);
    }
    return;
  }
  if (id == kDumpItId || id == kRestoreItId || id == kCancelId) {
    if (code == BN_CLICKED) {
      model_.Press(ButtonOfId(id));
      ShowNotice();
    }
    return;
  }
  if (id == kBrowseId) {
    if (code == BN_CLICKED) Browse();
    return;
  }
  // Enter, through the dialogue keys, is the default button: Dump Security.
  if (id == IDOK && !model_.hidden()) {
    model_.Press(FormButton::kDumpIt);
    ShowNotice();
    return;
  }
  // Escape, through the dialogue keys, is Cancel.
  if (id == IDCANCEL && !model_.hidden()) model_.Press(FormButton::kCancel);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case kSelectFieldMessage: {
      const int index = static_cast<int>(wparam);
      if (index >= 0 && index < MainWindowModel::kFieldCount && GetFocus() == fields_[index]) {
        const FieldSelection selection = model_.SelectionOnFocus(index);
        SendMessageA(fields_[index], EM_SETSEL, static_cast<WPARAM>(selection.start),
                     static_cast<LPARAM>(selection.start + selection.length));
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        focus_before_deactivation_ = GetFocus();
      } else {
        // The first activation follows the focus rule; later ones give back the focus.
        HWND target = activated_once_ && focus_before_deactivation_ != nullptr
                          ? focus_before_deactivation_
                          : fields_[model_.FocusTarget()];
        activated_once_ = true;
        SetFocus(target);
      }
      return 0;
    case WM_CLOSE:
      if (!model_.hidden()) model_.Press(FormButton::kCancel);
      return 0;
    case WM_CTLCOLORSTATIC:
      // Labels on the window's own face colour, not the edit controls' white.
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
      return DefWindowProcA(window_, message, wparam, lparam);
  }
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    auto* self = static_cast<MainWindow*>(create->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

bool MainWindow::Run() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &MainWindow::Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = kWindowClass;
  if (RegisterClassExA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTA bold{};
  if (GetObjectA(font_, sizeof bold, &bold) != 0) {
    bold.lfWeight = FW_BOLD;
    bold_font_ = CreateFontIndirectA(&bold);
  }

  // As CreateControls lays them out: fields, Line1, help, heading row, two batch lines, the
  // note, the reset key's help, Line2, the notice, the buttons.
  const int client_height = kMargin + MainWindowModel::kFieldCount * kRowHeight + 4 + 10 + 22 + 22 +
                            2 * 20 + 20 + 40 + 8 + kNoticeHeight + 4 + kButtonHeight + kMargin;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_DLGFRAME;
  const DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  RECT frame{0, 0, kClientWidth, client_height};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const std::string title(MainWindowModel::kTitle);
  if (CreateWindowExA(ex_style, kWindowClass, title.c_str(), style, x > 0 ? x : 0, y > 0 ? y : 0,
                      width, height, nullptr, nullptr, instance, this) == nullptr) {
    return false;
  }
  CreateControls();
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  SetFocus(fields_[model_.FocusTarget()]);

  MSG message;
  while (!model_.hidden()) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) {
      // A quit request ends the dialogue as Cancel and is passed on to whoever loops next.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      if (!model_.hidden()) model_.Press(FormButton::kCancel);
      break;
    }
    // Ctrl+C counts anywhere in the window, in a text field too, before the field can take
    // it as "copy".
    if (message.message == WM_CHAR && (message.hwnd == window_ || IsChild(window_, message.hwnd)) &&
        model_.KeyPress(static_cast<int>(message.wParam))) {
      ShowNotice();
      continue;
    }
    if (!IsDialogMessageA(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  ShowWindow(window_, SW_HIDE);
  return true;
}

}  // namespace

bool ShowWin32MainWindow(MainWindowModel& model) {
  MainWindow window(model);
  return window.Run();
}

}  // namespace cubesec
