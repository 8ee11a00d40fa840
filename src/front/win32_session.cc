#include "front/win32_session.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "front/main_window_model.h"
#include "front/progress_model.h"
#include "front/session_texts.h"
#include "front/win32_main_window.h"

namespace cubesec {
namespace {

// Often enough to repaint and answer the window system, seldom enough not to slow the run.
constexpr ULONGLONG kPumpIntervalMs = 30;
constexpr char kProgressClass[] = "cubesecProgressWindow";

class Win32MessageBoxPresenter : public MessageBoxPresenter {
 public:
  explicit Win32MessageBoxPresenter(std::string program_name)
      : program_name_(std::move(program_name)) {}
  MessageBoxAnswer Show(const MessageBoxRequest& request) override {
    UINT flags = MB_SETFOREGROUND | MB_TASKMODAL;
    flags |= request.buttons == MessageBoxButtons::kYesNo ? MB_YESNO : MB_OK;
    switch (request.icon) {
      case MessageBoxIcon::kCritical:
        flags |= MB_ICONSTOP;
        break;
      case MessageBoxIcon::kExclamation:
        flags |= MB_ICONEXCLAMATION;
        break;
      case MessageBoxIcon::kInformation:
        flags |= MB_ICONINFORMATION;
        break;
      case MessageBoxIcon::kNone:
        break;
    }
    if (request.buttons == MessageBoxButtons::kYesNo && request.default_is_no) {
      flags |= MB_DEFBUTTON2;
    }
    const std::string title = BoxTitle(request.title, program_name_);
    const int answer = MessageBoxA(nullptr, request.text.c_str(), title.c_str(), flags);
    if (answer == 0) return MessageBoxAnswer::kUnavailable;
    if (request.buttons == MessageBoxButtons::kOk) return MessageBoxAnswer::kOk;
    // Only an explicit Yes confirms.
    return answer == IDYES ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
  }

 private:
  std::string program_name_;
};

// The small window that shows where the run stands, with a bar and a Cancel button, kept
// responsive by pumping the thread's messages while the run works.
class Win32ProgressObserver : public RunObserver {
 public:
  explicit Win32ProgressObserver(Platform& platform)
      : model_(platform), last_pump_(GetTickCount64()) {}
  ~Win32ProgressObserver() override { Finish(); }
  Win32ProgressObserver(const Win32ProgressObserver&) = delete;
  Win32ProgressObserver& operator=(const Win32ProgressObserver&) = delete;

  void OnProgress(const RunProgress& progress) override {
    if (!model_.Take(progress)) return PumpEvents();
    if (window_ == nullptr) Open();
    Refresh();
    PumpEvents();
  }

  void PumpEvents() override {
    const ULONGLONG now = GetTickCount64();
    if (now - last_pump_ < kPumpIntervalMs) return;
    last_pump_ = now;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  bool CancelRequested() override { return model_.cancel_requested(); }

  void Finish() {
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
    label_ = nullptr;
    bar_ = nullptr;
    cancel_ = nullptr;
  }

 private:
  static constexpr int kCancelId = 2;

  // The Cancel button and closing the window both ask the run to stop; the window stays
  // until the run has stopped.
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32ProgressObserver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr &&
        (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wparam) == kCancelId))) {
      self->model_.RequestCancel();
      self->Refresh();
      return 0;
    }
    if (message == WM_CLOSE) return 0;
    return DefWindowProcA(window, message, wparam, lparam);
  }

  void Refresh() {
    if (label_ != nullptr) SetWindowTextA(label_, model_.text().c_str());
    if (bar_ != nullptr) SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(model_.percent()), 0);
    if (cancel_ != nullptr) {
      SetWindowTextA(cancel_, model_.cancel_caption());
      EnableWindow(cancel_, model_.cancel_requested() ? FALSE : TRUE);
    }
  }

  void Open() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &Win32ProgressObserver::Procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = kProgressClass;
    if (RegisterClassExA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return;
    }
    const DWORD style = WS_POPUP | WS_CAPTION | WS_DLGFRAME | WS_SYSMENU;
    RECT frame{0, 0, 360, 112};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const std::string title(MainWindowModel::kTitle);
    window_ = CreateWindowExA(0, kProgressClass, title.c_str(), style,
                              (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                              (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                              nullptr, instance, nullptr);
    if (window_ == nullptr) return;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    label_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 12, 12,
                             336, 20, window_, nullptr, instance, nullptr);
    SendMessageA(label_, WM_SETFONT, font, FALSE);
    bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 38, 336, 18, window_,
                           nullptr, instance, nullptr);
    if (bar_ != nullptr) SendMessageA(bar_, PBM_SETRANGE32, 0, 100);
    cancel_ = CreateWindowExA(0, "BUTTON", "Cancel",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 268, 72, 80, 26,
                              window_, reinterpret_cast<HMENU>(kCancelId), instance, nullptr);
    SendMessageA(cancel_, WM_SETFONT, font, FALSE);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
  }

  ProgressModel model_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND cancel_ = nullptr;
  ULONGLONG last_pump_;
};

// A program started from Explorer gets a console of its own; it only stands behind the
// window, so it is hidden. A console shared with the shell that started us stays.
void HideOwnConsole() {
  HWND console = GetConsoleWindow();
  if (console == nullptr) return;
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) ShowWindow(console, SW_HIDE);
}

class Win32Session : public InteractiveSession {
 public:
  Win32Session(Platform& platform, std::string program_name)
      : platform_(platform),
        program_name_(std::move(program_name)),
        presenter_(program_name_),
        progress_(platform) {
    platform_.SetMessageBoxPresenter(&presenter_);
  }
  ~Win32Session() override {
    platform_.SetMessageBoxPresenter(nullptr);
    progress_.Finish();
  }

  InteractiveResult Ask(RunParameters& params, const FormRequest& request) override {
    // The progress of a run that failed goes before the form comes back.
    progress_.Finish();
    MainWindowModel model(platform_, program_name_, params);
    if (request.mend_field >= 0) model.ShowRunError(request.mend_field, request.error);
    HideOwnConsole();
    if (!ShowWin32MainWindow(model)) return InteractiveResult::kUnavailable;
    if (!model.WantsRun()) return InteractiveResult::kCancelled;
    params = model.Result();
    return InteractiveResult::kRun;
  }

  RunObserver& observer() override { return progress_; }

  void ShowCompletion(Command command, RunEnd end, const std::string& log_path) override {
    progress_.Finish();
    presenter_.Show(CompletionNote(command, end, log_path));
  }

 private:
  Platform& platform_;
  std::string program_name_;
  Win32MessageBoxPresenter presenter_;
  Win32ProgressObserver progress_;
};

}  // namespace

std::unique_ptr<InteractiveSession> MakeWin32Session(Platform& platform,
                                                     const std::string& program_name) {
  return std::make_unique<Win32Session>(platform, program_name);
}

}  // namespace cubesec
