#include "ui/image_button.h"

ImageButton::~ImageButton() {
  if (imageList_ != nullptr && !(extendedStyle_ & kSharedImageList)) {
    ImageList_Destroy(imageList_);
  }
}

HIMAGELIST ImageButton::SetImageList(HIMAGELIST list) {
  const HIMAGELIST previous = imageList_;
  imageList_ = list;
  if (Handle() != nullptr && (extendedStyle_ & kSizeToPicture)) SizeToCell();
  return previous;
}

void ImageButton::SetCells(int normal, int pushed, int lit, int disabled) {
  cells_ = {normal, pushed, lit, disabled};
}

bool ImageButton::Attach(HWND button) {
  if (!Window::Attach(button)) return false;
  SetWindowLongPtrA(button, GWL_STYLE,
                    (GetWindowLongPtrA(button, GWL_STYLE) & ~LONG_PTR{BS_TYPEMASK}) | BS_OWNERDRAW);
  toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, button, nullptr,
                             ModuleInstance(), nullptr);
  if (imageList_ != nullptr && (extendedStyle_ & kSizeToPicture)) SizeToCell();
  return true;
}

int ImageButton::CurrentCell() const {
  const bool hover = (extendedStyle_ & kHoverMode) != 0;
  // Without hover mode the platform's button tracks the press.
  const bool pressed =
      pressed_ || (!hover && (SendMessageA(Handle(), BM_GETSTATE, 0, 0) & BST_PUSHED) != 0);
  return ChooseImageButtonCell(cells_, pressed, hover, mouseOver_, !IsWindowEnabled(Handle()));
}

void ImageButton::SizeToCell() {
  int cx = 0, cy = 0;
  if (!ImageList_GetIconSize(imageList_, &cx, &cy)) return;
  RECT window, client;
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const int frameX = (window.right - window.left) - client.right;
  const int frameY = (window.bottom - window.top) - client.bottom;
  SetWindowPos(Handle(), nullptr, 0, 0, cx + frameX, cy + frameY,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ImageButton::Repaint() { InvalidateRect(Handle(), nullptr, FALSE); }

bool ImageButton::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  static constexpr MessageMapEntry<ImageButton> kMap[] = {
      // The tool tip sees every mouse message first, then the table goes on.
      OnMessage<WM_MOUSEMOVE, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_LBUTTONDOWN, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_LBUTTONDBLCLK, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_LBUTTONUP, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_RBUTTONDOWN, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_RBUTTONUP, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_MBUTTONDOWN, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_MBUTTONUP, &ImageButton::RelayToToolTip>(),
      OnMessage<WM_PAINT, &ImageButton::OnPaint>(),
      OnMessage<WM_ERASEBKGND, &ImageButton::OnEraseBackground>(),
      OnMessage<WM_MOUSEMOVE, &ImageButton::OnMouseMove>(),
      OnMessage<WM_MOUSELEAVE, &ImageButton::OnMouseLeave>(),
      OnMessage<WM_LBUTTONDOWN, &ImageButton::OnLeftButtonDown>(),
      OnMessage<WM_LBUTTONDBLCLK, &ImageButton::OnLeftButtonDown>(),
      OnMessage<WM_LBUTTONUP, &ImageButton::OnLeftButtonUp>(),
      OnMessage<WM_CAPTURECHANGED, &ImageButton::OnCaptureChanged>(),
      OnMessage<WM_KEYDOWN, &ImageButton::OnKey>(),
      OnMessage<WM_KEYUP, &ImageButton::OnKey>(),
      OnMessage<WM_CHAR, &ImageButton::OnKey>(),
      OnMessage<WM_SETFOCUS, &ImageButton::OnSetFocus>(),
      OnMessage<WM_KILLFOCUS, &ImageButton::OnKillFocus>(),
      OnMessage<WM_ENABLE, &ImageButton::OnEnable>(),
      OnMessage<WM_DESTROY, &ImageButton::OnDestroy>(),
  };
  // Without hover mode the platform's own button handles the mouse.
  if (!(extendedStyle_ & kHoverMode) && m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) {
    LRESULT ignored = 0;
    RelayToToolTip(m, ignored);
    return false;
  }
  return DispatchMessageMap<ImageButton>(*this, kMap, m, result);
}

bool ImageButton::RelayToToolTip(const WindowMessage& m, LRESULT&) {
  RelayToToolTipWindow(toolTip_, m);
  return false;  // relaying never takes the message
}

void ImageButton::OnPaint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(Handle(), &paint);
  if (imageList_ != nullptr) ImageList_Draw(imageList_, CurrentCell(), dc, 0, 0, ILD_NORMAL);
  EndPaint(Handle(), &paint);
}

bool ImageButton::OnEraseBackground(HDC) { return true; }

void ImageButton::OnMouseMove(UINT, POINT client) {
  if (GetCapture() == Handle()) {
    POINT screen = client;
    ClientToScreen(Handle(), &screen);
    RECT window;
    GetWindowRect(Handle(), &window);
    const bool inside = PtInRect(&window, screen) != 0;
    if (inside != pressed_) {
      pressed_ = inside;
      Repaint();
    }
  }
  if (!mouseOver_) {
    mouseOver_ = true;
    Repaint();
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, Handle(), 0};
    TrackMouseEvent(&track);
  }
}

void ImageButton::OnMouseLeave() {
  mouseOver_ = false;
  Repaint();
}

void ImageButton::OnLeftButtonDown(UINT, POINT) {
  SetCapture(Handle());
  pressed_ = true;
  Repaint();
}

void ImageButton::OnLeftButtonUp(UINT, POINT) {
  if (GetCapture() != Handle()) return;
  if (pressed_) {
    const int id = GetDlgCtrlID(Handle());
    SendMessageA(GetParent(Handle()), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Handle()));
  }
  ReleaseCapture();
}

void ImageButton::OnCaptureChanged(HWND) {
  if (pressed_) {
    pressed_ = false;
    Repaint();
  }
}

bool ImageButton::OnKey(const WindowMessage& m, LRESULT& result) {
  if (m.wParam != VK_SPACE) return false;
  result = 0;  // the space key neither presses nor clicks
  return true;
}

void ImageButton::OnSetFocus(HWND) {
  hasFocus_ = true;
  Repaint();
}

void ImageButton::OnKillFocus(HWND) {
  hasFocus_ = false;
  Repaint();
}

void ImageButton::OnEnable(bool) { Repaint(); }

void ImageButton::OnDestroy() {
  if (toolTip_ != nullptr) DestroyWindow(toolTip_);
  toolTip_ = nullptr;
  DefaultProcessing({Handle(), WM_DESTROY, 0, 0});
}
