#include "ui/window.h"
// after windows.h
#include <commctrl.h>

#include <algorithm>

namespace {

constexpr char kObjectProperty[] = "VelmorcryptWindowObject";
constexpr char kWindowClass[] = "VelmorcryptWindow";

// The control that sent a child notification, or null if the message is not
// one (or names no control: menus, accelerators, standard scroll bars).
HWND SenderOf(const WindowMessage& m) {
  switch (m.message) {
    case WM_COMMAND:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
      return reinterpret_cast<HWND>(m.lParam);
    case WM_NOTIFY:
      return reinterpret_cast<const NMHDR*>(m.lParam)->hwndFrom;
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(m.lParam);
      return d->CtlType == ODT_MENU ? nullptr : d->hwndItem;
    }
    case WM_MEASUREITEM: {
      const auto* d = reinterpret_cast<const MEASUREITEMSTRUCT*>(m.lParam);
      return d->CtlType == ODT_MENU ? nullptr : GetDlgItem(m.hwnd, static_cast<int>(d->CtlID));
    }
    case WM_DELETEITEM:
      return reinterpret_cast<const DELETEITEMSTRUCT*>(m.lParam)->hwndItem;
    case WM_COMPAREITEM:
      return reinterpret_cast<const COMPAREITEMSTRUCT*>(m.lParam)->hwndItem;
    default:
      return nullptr;
  }
}

// Messages whose dialog-procedure answer is the result itself rather than
// TRUE with the result in DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool window_detail::IdAndCodeMatch(UINT message, WPARAM w, LPARAM l, UINT firstId, UINT lastId,
                                   int code) {
  UINT id;
  int actualCode;
  if (message == WM_COMMAND || message == Reflected(WM_COMMAND)) {
    id = LOWORD(w);
    actualCode = HIWORD(w);
  } else if (message == WM_NOTIFY || message == Reflected(WM_NOTIFY)) {
    const auto* header = reinterpret_cast<const NMHDR*>(l);
    id = static_cast<UINT>(header->idFrom);
    actualCode = static_cast<int>(header->code);
  } else {
    return true;
  }
  return id >= firstId && id <= lastId && (code == kAnyCode || code == actualCode);
}

HINSTANCE ModuleInstance() { return GetModuleHandleA(nullptr); }

void RelayToToolTipWindow(HWND toolTip, const WindowMessage& m) {
  if (toolTip == nullptr) return;
  MSG msg{m.hwnd, m.message, m.wParam, m.lParam, static_cast<DWORD>(GetMessageTime()), {}};
  GetCursorPos(&msg.pt);
  SendMessageA(toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

// ---- WindowObject ----

WindowObject* WindowObject::FromHandle(HWND hwnd) {
  return hwnd ? static_cast<WindowObject*>(GetPropA(hwnd, kObjectProperty)) : nullptr;
}

void WindowObject::AddComponent(MessageComponent* component) { components_.push_back(component); }

bool WindowObject::ProcessWindowMessage(const WindowMessage&, LRESULT&) { return false; }

bool WindowObject::RouteMessage(const WindowMessage& m, LRESULT& result) {
  if (ProcessWindowMessage(m, result)) return true;
  for (MessageComponent* component : components_) {
    if (component->ProcessComponentMessage(m, result)) return true;
  }
  const HWND sender = SenderOf(m);
  if (sender == nullptr || sender == hwnd_) return false;
  WindowObject* child = FromHandle(sender);
  if (child == nullptr) return false;
  return child->RouteMessage({sender, Reflected(m.message), m.wParam, m.lParam}, result);
}

void WindowObject::Bind(HWND hwnd) {
  hwnd_ = hwnd;
  SetPropA(hwnd, kObjectProperty, this);
}

void WindowObject::Unbind() {
  if (hwnd_ != nullptr) RemovePropA(hwnd_, kObjectProperty);
  hwnd_ = nullptr;
}

// ---- Window ----

Window::~Window() {
  if (Handle() == nullptr) return;
  if (created_) {
    DestroyWindow(Handle());
  } else {
    Detach();
  }
}

bool Window::Attach(HWND hwnd) {
  if (hwnd == nullptr || Handle() != nullptr || FromHandle(hwnd) != nullptr) return false;
  Bind(hwnd);
  previous_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::WindowProc)));
  return true;
}

void Window::Detach() {
  const HWND hwnd = Handle();
  if (hwnd == nullptr) return;
  if (previous_ != nullptr) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    previous_ = nullptr;
  }
  Unbind();
}

HWND Window::Create(HWND parent, const RECT& rect, const char* text, DWORD style, DWORD exStyle,
                    UINT id) {
  static const ATOM atom = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &Window::WindowProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    return RegisterClassExA(&wc);
  }();
  if (atom == 0 || Handle() != nullptr) return nullptr;
  created_ = true;
  const HWND hwnd = CreateWindowExA(
      exStyle, kWindowClass, text, style, rect.left, rect.top, rect.right - rect.left,
      rect.bottom - rect.top, parent,
      (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr,
      ModuleInstance(), this);
  if (hwnd == nullptr) created_ = false;
  return hwnd;
}

LRESULT Window::DefaultProcessing(const WindowMessage& m) {
  if (previous_ != nullptr)
    return CallWindowProcA(previous_, m.hwnd, m.message, m.wParam, m.lParam);
  return DefWindowProcA(m.hwnd, m.message, m.wParam, m.lParam);
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<Window*>(FromHandle(hwnd));
  if (self == nullptr && message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    if (self != nullptr) self->Bind(hwnd);
  }
  if (self == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);

  const WindowMessage m{hwnd, message, wParam, lParam};
  LRESULT result = 0;
  if (message == WM_NCDESTROY) {
    result = self->DefaultProcessing(m);
    self->Detach();
    self->created_ = false;
    return result;
  }
  if (!self->RouteMessage(m, result)) result = self->DefaultProcessing(m);
  return result;
}

// ---- Dialog ----

Dialog::~Dialog() {
  if (Handle() != nullptr && modeless_) DestroyWindow(Handle());
}

HWND Dialog::CreateModeless(UINT templateId, HWND parent) {
  if (Handle() != nullptr) return nullptr;
  modeless_ = true;
  return CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId), parent,
                            &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::RunModal(UINT templateId, HWND owner) {
  if (Handle() != nullptr) return -1;
  modeless_ = false;
  return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId), owner, &Dialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void Dialog::EndModal(INT_PTR result) {
  if (Handle() != nullptr) EndDialog(Handle(), result);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    self->Bind(hwnd);
  } else {
    self = static_cast<Dialog*>(FromHandle(hwnd));
  }
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    self->Unbind();
    return FALSE;
  }
  LRESULT result = 0;
  if (!self->RouteMessage({hwnd, message, wParam, lParam}, result)) {
    return message == WM_INITDIALOG ? TRUE : FALSE;  // unhandled: the dialog manager's default
  }
  if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
