// A thin window framework over Win32.
//
// A window object (Window for subclassed or self-created windows, Dialog for
// dialogs from templates) routes each message of its window in a fixed order:
//   1. its own handler table (ProcessWindowMessage, usually one
//      DispatchMessageMap over a static table of entries);
//   2. the embedded components (MessageComponent), in the order they were
//      added, e.g. a tray icon;
//   3. reflection: a child notification (WM_COMMAND, WM_NOTIFY, WM_DRAWITEM,
//      WM_MEASUREITEM, WM_DELETEITEM, WM_COMPAREITEM, WM_CTLCOLOR*,
//      WM_VKEYTOITEM, WM_CHARTOITEM, WM_HSCROLL, WM_VSCROLL) goes back to the
//      sending control as Reflected(message) if that control is a window
//      object itself;
//   4. the default: the subclassed window's previous procedure,
//      DefWindowProc, or (for a dialog) the dialog manager.
// The object of a window is found from its handle through a window property
// that is set at WM_NCCREATE (own windows), at WM_INITDIALOG (dialogs) or
// when an existing window is attached, and removed at WM_NCDESTROY.
#pragma once
#include <windows.h>

#include <span>
#include <type_traits>
#include <vector>

#include "ui/messages.h"

// One message as the routing sees it.
struct WindowMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Something embedded in a window that gets the messages its owner's table
// left (a tray icon takes its callback message this way).
class MessageComponent {
 public:
  virtual bool ProcessComponentMessage(const WindowMessage& m, LRESULT& result) = 0;

 protected:
  ~MessageComponent() = default;
};

// ---- Handler tables ----------------------------------------------------
//
// An entry names a message (for WM_COMMAND and WM_NOTIFY, also a range of
// control ids and a notification code) and a member function of the window
// class. The member function's signature decides how the parameters are
// cracked; the signatures understood are (T is the window class):
//
//   void ()                                  any message; answer 0
//   LRESULT (WPARAM, LPARAM)                 any message, raw
//   bool (const WindowMessage&, LRESULT&)    any message, raw; false declines it
//   bool (HWND focus, LPARAM)                WM_INITDIALOG; answer TRUE to set the default focus
//   void (UINT id, UINT code, HWND control)  WM_COMMAND
//   LRESULT (NMHDR&)                         WM_NOTIFY
//   HBRUSH (HDC, HWND control)               WM_CTLCOLOR*
//   void (const DRAWITEMSTRUCT&)             WM_DRAWITEM (answer TRUE)
//   void (MEASUREITEMSTRUCT&)                WM_MEASUREITEM (answer TRUE)
//   void (const DELETEITEMSTRUCT&)           WM_DELETEITEM (answer TRUE)
//   bool (HDC)                               WM_ERASEBKGND; answer whether it was erased
//   void (UINT keys, POINT client)           mouse button and move messages
//   void (UINT type, SIZE client)            WM_SIZE
//   void (HWND other)                        WM_SETFOCUS, WM_KILLFOCUS, WM_CAPTURECHANGED
//   void (UINT code, UINT keyData)           WM_CHAR, WM_KEYDOWN, WM_KEYUP
//   bool (HWND, UINT hitTest, UINT mouse)    WM_SETCURSOR; answer whether it was set
//   UINT (const MSG*)                        WM_GETDLGCODE
//   void (HFONT, bool redraw)                WM_SETFONT
//   HFONT ()                                 WM_GETFONT
//   void (bool enabled)                      WM_ENABLE
//   void (UINT_PTR id)                       WM_TIMER
//
// Entries are tried in table order; the first one that matches takes the
// message (unless its raw handler declines it).

inline constexpr int kAnyCode = -1;

template <class T>
struct MessageMapEntry {
  UINT message;
  UINT firstId;  // WM_COMMAND and WM_NOTIFY (also reflected): control ids
  UINT lastId;
  int code;  // notification code, or kAnyCode
  bool (*handler)(T& self, const WindowMessage& m, LRESULT& result);
};

namespace window_detail {

template <class F>
struct MemberOf;
template <class R, class C, class... A>
struct MemberOf<R (C::*)(A...)> {
  using Class = C;
};
template <auto Fn>
using ClassOf = typename MemberOf<decltype(Fn)>::Class;

inline POINT PointFrom(LPARAM l) {
  return POINT{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
}

template <auto Fn>
bool Crack(ClassOf<Fn>& self, const WindowMessage& m, LRESULT& r) {
  using T = ClassOf<Fn>;
  using F = decltype(Fn);
  const WPARAM w = m.wParam;
  const LPARAM l = m.lParam;
  if constexpr (std::is_same_v<F, void (T::*)()>) {
    (self.*Fn)();
    r = 0;
  } else if constexpr (std::is_same_v<F, LRESULT (T::*)(WPARAM, LPARAM)>) {
    r = (self.*Fn)(w, l);
  } else if constexpr (std::is_same_v<F, bool (T::*)(const WindowMessage&, LRESULT&)>) {
    return (self.*Fn)(m, r);
  } else if constexpr (std::is_same_v<F, bool (T::*)(HWND, LPARAM)>) {
    r = (self.*Fn)(reinterpret_cast<HWND>(w), l) ? TRUE : FALSE;
  } else if constexpr (std::is_same_v<F, void (T::*)(UINT, UINT, HWND)>) {
    (self.*Fn)(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
    r = 0;
  } else if constexpr (std::is_same_v<F, LRESULT (T::*)(NMHDR&)>) {
    r = (self.*Fn)(*reinterpret_cast<NMHDR*>(l));
  } else if constexpr (std::is_same_v<F, HBRUSH (T::*)(HDC, HWND)>) {
    r = reinterpret_cast<LRESULT>((self.*Fn)(reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l)));
  } else if constexpr (std::is_same_v<F, void (T::*)(const DRAWITEMSTRUCT&)>) {
    (self.*Fn)(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
    r = TRUE;
  } else if constexpr (std::is_same_v<F, void (T::*)(MEASUREITEMSTRUCT&)>) {
    (self.*Fn)(*reinterpret_cast<MEASUREITEMSTRUCT*>(l));
    r = TRUE;
  } else if constexpr (std::is_same_v<F, void (T::*)(const DELETEITEMSTRUCT&)>) {
    (self.*Fn)(*reinterpret_cast<const DELETEITEMSTRUCT*>(l));
    r = TRUE;
  } else if constexpr (std::is_same_v<F, bool (T::*)(HDC)>) {
    r = (self.*Fn)(reinterpret_cast<HDC>(w)) ? 1 : 0;
  } else if constexpr (std::is_same_v<F, void (T::*)(UINT, POINT)>) {
    (self.*Fn)(static_cast<UINT>(w), PointFrom(l));
    r = 0;
  } else if constexpr (std::is_same_v<F, void (T::*)(UINT, SIZE)>) {
    (self.*Fn)(static_cast<UINT>(w), SIZE{LOWORD(l), HIWORD(l)});
    r = 0;
  } else if constexpr (std::is_same_v<F, void (T::*)(HWND)>) {
    (self.*Fn)(reinterpret_cast<HWND>(m.message == WM_CAPTURECHANGED ? l : w));
    r = 0;
  } else if constexpr (std::is_same_v<F, void (T::*)(UINT, UINT)>) {
    (self.*Fn)(static_cast<UINT>(w), static_cast<UINT>(l));
    r = 0;
  } else if constexpr (std::is_same_v<F, bool (T::*)(HWND, UINT, UINT)>) {
    const bool set = (self.*Fn)(reinterpret_cast<HWND>(w), LOWORD(l), HIWORD(l));
    if (!set) return false;
    r = TRUE;
  } else if constexpr (std::is_same_v<F, UINT (T::*)(const MSG*)>) {
    r = (self.*Fn)(reinterpret_cast<const MSG*>(l));
  } else if constexpr (std::is_same_v<F, void (T::*)(HFONT, bool)>) {
    (self.*Fn)(reinterpret_cast<HFONT>(w), LOWORD(l) != 0);
    r = 0;
  } else if constexpr (std::is_same_v<F, HFONT (T::*)()>) {
    r = reinterpret_cast<LRESULT>((self.*Fn)());
  } else if constexpr (std::is_same_v<F, void (T::*)(bool)>) {
    (self.*Fn)(w != 0);
    r = 0;
  } else if constexpr (std::is_same_v<F, void (T::*)(UINT_PTR)>) {
    (self.*Fn)(static_cast<UINT_PTR>(w));
    r = 0;
  } else {
    static_assert(!sizeof(F), "handler signature not understood");
  }
  return true;
}

bool IdAndCodeMatch(UINT message, WPARAM w, LPARAM l, UINT firstId, UINT lastId, int code);

}  // namespace window_detail

// A message, whatever its parameters.
template <UINT Message, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnMessage() {
  return {Message, 0, 0xFFFF, kAnyCode, &window_detail::Crack<Fn>};
}
// A message that a window object's parent reflected back to it.
template <UINT Message, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnReflected() {
  return {Reflected(Message), 0, 0xFFFF, kAnyCode, &window_detail::Crack<Fn>};
}
// WM_COMMAND from control (or menu item) Id, any notification code.
template <UINT Id, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnCommand() {
  return {WM_COMMAND, Id, Id, kAnyCode, &window_detail::Crack<Fn>};
}
// WM_COMMAND from any id in First..Last.
template <UINT First, UINT Last, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnCommandRange() {
  return {WM_COMMAND, First, Last, kAnyCode, &window_detail::Crack<Fn>};
}
// WM_COMMAND with notification code Code, whatever its id.
template <int Code, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnCommandCode() {
  return {WM_COMMAND, 0, 0xFFFF, Code, &window_detail::Crack<Fn>};
}
// WM_NOTIFY from control Id with code Code (kAnyCode for every code).
template <UINT Id, int Code, auto Fn>
constexpr MessageMapEntry<window_detail::ClassOf<Fn>> OnNotify() {
  return {WM_NOTIFY, Id, Id, Code, &window_detail::Crack<Fn>};
}

// Runs the first entry of `map` that matches.
template <class T>
bool DispatchMessageMap(T& self, std::span<const MessageMapEntry<T>> map, const WindowMessage& m,
                        LRESULT& result) {
  for (const MessageMapEntry<T>& e : map) {
    if (e.message != m.message) continue;
    if (!window_detail::IdAndCodeMatch(m.message, m.wParam, m.lParam, e.firstId, e.lastId, e.code))
      continue;
    if (e.handler(self, m, result)) return true;
  }
  return false;
}

// ---- Window objects -----------------------------------------------------

// What Window and Dialog share: the handle, the routing and the components.
class WindowObject {
 public:
  WindowObject() = default;
  WindowObject(const WindowObject&) = delete;
  WindowObject& operator=(const WindowObject&) = delete;
  virtual ~WindowObject() = default;

  HWND Handle() const { return hwnd_; }
  // The object bound to a window, or null.
  static WindowObject* FromHandle(HWND hwnd);
  // Components are offered messages in the order they were added; the
  // object does not own them.
  void AddComponent(MessageComponent* component);
  // Own table, then components, then reflection; false when nobody took it.
  bool RouteMessage(const WindowMessage& m, LRESULT& result);

 protected:
  // The object's own handler table.
  virtual bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result);
  void Bind(HWND hwnd);
  void Unbind();

 private:
  HWND hwnd_ = nullptr;
  std::vector<MessageComponent*> components_;
};

// A window of the framework's own class, or an existing window (typically a
// control of a dialog template) taken over by subclassing.
class Window : public WindowObject {
 public:
  ~Window() override;

  // Takes over an existing window; false if it already has an object.
  bool Attach(HWND hwnd);
  // Gives the window back its previous procedure.
  void Detach();
  // Creates a window of the framework's class ("VelmorcryptWindow").
  HWND Create(HWND parent, const RECT& rect, const char* text, DWORD style, DWORD exStyle = 0,
              UINT id = 0);

 protected:
  // What the window does with a message that nobody took.
  LRESULT DefaultProcessing(const WindowMessage& m);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  WNDPROC previous_ = nullptr;
  bool created_ = false;
};

// A dialog from a template in the program's resources.
class Dialog : public WindowObject {
 public:
  ~Dialog() override;

  // A modeless dialog (child or top level, as its template says).
  HWND CreateModeless(UINT templateId, HWND parent);
  // A modal dialog; returns what EndModal was given, or -1 on failure.
  INT_PTR RunModal(UINT templateId, HWND owner);
  void EndModal(INT_PTR result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool modeless_ = false;
};

// Hands a mouse message to a tool tip window (TTM_RELAYEVENT), so that it
// can show its tip; nothing happens without a tool tip.
void RelayToToolTipWindow(HWND toolTip, const WindowMessage& m);

// The program's module, where its resources are.
HINSTANCE ModuleInstance();
