#include <array>
#include <new>
#include <optional>

#include "dialogs/dialogs_win32.h"
#include "texts/catalogue.h"

namespace dialogs {

namespace {

constexpr wchar_t CLASS_NAME[] = L"InputRequester";

// Outer size, caption and borders included; plain pixels, whatever the screen's density.
constexpr int DIALOG_WIDTH = 300;
constexpr int DIALOG_HEIGHT = 130;
constexpr DWORD DIALOG_STYLE = WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
static_assert(DIALOG_STYLE == 0x10C80000);
// A language written from right to left mirrors the dialog; its children keep their own layout, set below.
constexpr DWORD DIALOG_EXTENDED_STYLE_RTL = WS_EX_LAYOUTRTL | WS_EX_NOINHERITLAYOUT;

struct ChildWindow {
  const wchar_t* class_name;
  DWORD style;
  DWORD extended_style;
  int id;
  int x, y, width, height;  // in the dialog's client area
};

// The children in the order they are made.
// clang-format off
//                              class        style                                                 extended style    id             x    y   width height
constexpr ChildWindow LABEL     {L"STATIC", WS_CHILD | WS_VISIBLE | SS_SIMPLE,                      0,                0,             10,  10, 280,  22};
constexpr ChildWindow EDIT_FIELD{L"EDIT",   WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,   WS_EX_CLIENTEDGE, ID_INPUT_EDIT, 10,  32, 275,  21};
constexpr ChildWindow OK_BUTTON {L"BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,                ID_INPUT_OK,   110, 67, 80,   25};
// From right to left, the prompt reads and aligns that way; the edit field aligns right, but the version
// in it is typed and shown from left to right.
constexpr ChildWindow LABEL_RTL {L"STATIC", WS_CHILD | WS_VISIBLE | SS_RIGHT,                       WS_EX_RTLREADING, 0,             10,  10, 280,  22};
constexpr ChildWindow EDIT_RTL  {L"EDIT",   WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | ES_RIGHT, WS_EX_CLIENTEDGE, ID_INPUT_EDIT, 10, 32, 275, 21};
// clang-format on
static_assert(LABEL.style == 0x5000000B && EDIT_FIELD.style == 0x50010080 && OK_BUTTON.style == 0x50010001);
static_assert(EDIT_FIELD.extended_style == 0x200);

// One input dialog at a time: the window procedure reaches the running call's state here.
struct InputDialogState {
  bool done = false;            // the dialog window is gone; ends the modal loop
  HWND owner = nullptr;         // the owner found when the call began
  bool owner_disabled = false;  // this call disabled the owner
  bool put_back = true;         // the owner and the thread's windows are enabled again
  HWND edit = nullptr;
  HFONT font = nullptr;  // made once, used until the process ends
};
InputDialogState state;

// What the user confirmed; the dialog window carries its address in its user data.
using ResultSlot = std::optional<Text>;

HMODULE program_module() { return GetModuleHandleW(nullptr); }

void ensure_font() {
  if (state.font) return;
  state.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  // 500 bytes is the structure without its last field, the size every version of Windows accepts.
  static_assert(sizeof(NONCLIENTMETRICSW) >= 500);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = 500;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0))
    if (HFONT message_font = CreateFontIndirectW(&metrics.lfMessageFont)) state.font = message_font;
}

// Once per dialog, and also when the window went without the close step (its owner was destroyed).
void put_back_windows() {
  if (state.put_back) return;
  state.put_back = true;
  if (state.owner_disabled) EnableWindow(state.owner, TRUE);
  restore_thread_windows();
}

// The owner and the other windows are enabled before the dialog goes, so that activation returns to them.
void close_dialog(HWND dialog) {
  put_back_windows();
  DestroyWindow(dialog);
}

void take_text(HWND dialog) {
  auto* slot = reinterpret_cast<ResultSlot*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (!slot) return;
  const int length = GetWindowTextLengthW(state.edit);
  try {
    Text text(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(state.edit, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    *slot = std::move(text);
  } catch (const std::bad_alloc&) {
    // Without room for the text the slot stays empty and the dialog answers as cancelled.
  }
}

LRESULT CALLBACK input_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      UnregisterClassW(CLASS_NAME, program_module());
      state.done = true;
      return 0;
    case WM_ACTIVATE:
      // The window is activated while it is being created, before the edit field exists.
      if (LOWORD(wparam) != WA_INACTIVE && state.edit) SetFocus(state.edit);
      return 0;
    case WM_CLOSE:
      close_dialog(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == ID_INPUT_OK) {
        take_text(window);
        close_dialog(window);
      } else if (LOWORD(wparam) == ID_INPUT_CANCEL) {
        close_dialog(window);
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void register_class() {
  static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXW) == 48);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_VREDRAW | CS_HREDRAW;
  window_class.lpfnWndProc = input_window_procedure;
  window_class.hInstance = program_module();
  window_class.hIcon = LoadIconW(program_module(), MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = CLASS_NAME;
  RegisterClassExW(&window_class);  // fails when an earlier call's class is still there, which serves as well
}

HWND create_child(HWND dialog, const ChildWindow& child, const wchar_t* text) {
  HWND window =
      CreateWindowExW(child.extended_style, child.class_name, text, child.style, child.x, child.y, child.width,
                      child.height, dialog, reinterpret_cast<HMENU>(INT_PTR{child.id}), program_module(), nullptr);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), 1);
  return window;
}

void run_modal_loop(HWND dialog, HACCEL accelerators) {
  MSG message;
  while (!state.done) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The thread is asked to end: answer as a cancel, and leave the quit request for the loop outside.
      close_dialog(dialog);
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    // Accelerators first, so that Enter and Escape work whichever control has the focus.
    if (TranslateAcceleratorW(dialog, accelerators, &message) || IsDialogMessageW(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

Text ask_text(TextView title, TextView message, TextView default_text) {
  const WideText wide_title(title);
  const WideText wide_message(message);
  const WideText wide_default(default_text);

  ensure_font();
  register_class();
  state.done = false;
  state.edit = nullptr;

  state.owner = find_owner_window();
  disable_thread_windows();
  state.owner_disabled = state.owner && IsWindowEnabled(state.owner);
  if (state.owner_disabled) EnableWindow(state.owner, FALSE);
  state.put_back = false;
  ScopeExit put_back([] { put_back_windows(); });

  const int half_height = GetSystemMetrics(SM_CYSCREEN) / 2;
  const int half_width = GetSystemMetrics(SM_CXSCREEN) / 2;
  ResultSlot result;
  const bool right_to_left = texts::is_right_to_left();
  HWND dialog = CreateWindowExW(right_to_left ? DIALOG_EXTENDED_STYLE_RTL : 0, CLASS_NAME, wide_title.get(),
                                DIALOG_STYLE, half_width - DIALOG_WIDTH / 2, half_height - DIALOG_HEIGHT / 2,
                                DIALOG_WIDTH, DIALOG_HEIGHT, find_owner_window(), nullptr, program_module(), nullptr);
  if (!dialog) return {};
  SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&result));

  create_child(dialog, right_to_left ? LABEL_RTL : LABEL, wide_message.get());
  state.edit = create_child(dialog, right_to_left ? EDIT_RTL : EDIT_FIELD, nullptr);
  SetFocus(state.edit);
  if (!wide_default.absent()) {
    SendMessageW(state.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide_default.get()));
    SendMessageW(state.edit, EM_SETSEL, wide_default.size(), static_cast<LPARAM>(wide_default.size()));
  }
  create_child(dialog, OK_BUTTON, WideText(texts::tr(u"OK")).get());

  std::array<ACCEL, 2> keys{{{FVIRTKEY, VK_RETURN, ID_INPUT_OK}, {FVIRTKEY, VK_ESCAPE, ID_INPUT_CANCEL}}};
  UniqueAccelerators accelerators(CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size())));

  SetForegroundWindow(dialog);
  BringWindowToTop(dialog);
  run_modal_loop(dialog, accelerators.get());
  return result.value_or(Text{});
}

}  // namespace dialogs
