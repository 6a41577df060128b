// The window framework: handler tables with typed arguments, the routing
// order (own table, components, reflection to the sending control),
// subclassing, dialogs from templates and the message loop's filters and
// idle handlers, with real windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "ui/message_loop.h"
#include "ui/window.h"

namespace {

using Log = std::vector<std::string>;

constexpr UINT kOwnCommand = 100;
constexpr UINT kComponentCommand = 200;
constexpr UINT kChildId = 300;
constexpr UINT kRangeFirst = 400;
constexpr UINT kRangeLast = 409;
constexpr int kSpecialCode = 77;

// A child control built on the framework: records what its parent reflects.
class ReflectingChild : public Window {
 public:
  explicit ReflectingChild(Log& log) : log_(log) {}
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<ReflectingChild> kMap[] = {
        OnReflected<WM_COMMAND, &ReflectingChild::OnCommand>(),
        OnReflected<WM_CTLCOLORSTATIC, &ReflectingChild::OnColor>(),
        OnReflected<WM_NOTIFY, &ReflectingChild::OnNotify>(),
    };
    return DispatchMessageMap<ReflectingChild>(*this, kMap, m, result);
  }
  void OnCommand(UINT id, UINT code, HWND control) {
    log_.push_back("child reflected command " + std::to_string(id) + "/" + std::to_string(code) +
                   (control == Handle() ? " from me" : ""));
  }
  HBRUSH OnColor(HDC, HWND) {
    log_.push_back("child reflected colour");
    return static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  }
  LRESULT OnNotify(NMHDR& header) {
    log_.push_back("child reflected notify " + std::to_string(static_cast<int>(header.code)));
    return 55;
  }

 private:
  Log& log_;
};

class RecordingComponent : public MessageComponent {
 public:
  explicit RecordingComponent(Log& log) : log_(log) {}
  bool ProcessComponentMessage(const WindowMessage& m, LRESULT& result) override {
    if (m.message == WM_COMMAND &&
        (LOWORD(m.wParam) == kComponentCommand || LOWORD(m.wParam) == kOwnCommand)) {
      log_.push_back("component command " + std::to_string(LOWORD(m.wParam)));
      result = 0;
      return true;
    }
    if (m.message == WM_COMMAND && LOWORD(m.wParam) == kChildId && takeChildCommands) {
      log_.push_back("component took child command");
      return true;
    }
    return false;
  }
  bool takeChildCommands = false;

 private:
  Log& log_;
};

class Parent : public Window {
 public:
  explicit Parent(Log& log) : log_(log) {}
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<Parent> kMap[] = {
        OnCommand<kOwnCommand, &Parent::OnOwnCommand>(),
        OnCommandCode<kSpecialCode, &Parent::OnSpecialCode>(),
        OnCommandRange<kRangeFirst, kRangeLast, &Parent::OnRange>(),
        OnNotify<kRangeFirst, -5, &Parent::OnFirstNotify>(),
        OnMessage<WM_USER + 1, &Parent::Declines>(),
        OnMessage<WM_USER + 1, &Parent::Raw>(),
        OnMessage<WM_RBUTTONDOWN, &Parent::OnRightButton>(),
        OnMessage<WM_SIZE, &Parent::OnSize>(),
        OnMessage<WM_USER + 2, &Parent::OnPlain>(),
    };
    return DispatchMessageMap<Parent>(*this, kMap, m, result);
  }
  void OnOwnCommand(UINT id, UINT code, HWND) {
    log_.push_back("own command " + std::to_string(id) + "/" + std::to_string(code));
  }
  void OnSpecialCode(UINT id, UINT code, HWND) {
    log_.push_back("code " + std::to_string(code) + " from " + std::to_string(id));
  }
  void OnRange(UINT id, UINT, HWND) { log_.push_back("range " + std::to_string(id)); }
  LRESULT OnFirstNotify(NMHDR& header) {
    log_.push_back("notify " + std::to_string(header.idFrom));
    return 1234;
  }
  bool Declines(const WindowMessage&, LRESULT&) {
    log_.push_back("declined");
    return false;
  }
  LRESULT Raw(WPARAM w, LPARAM l) {
    log_.push_back("raw " + std::to_string(w) + "," + std::to_string(l));
    return static_cast<LRESULT>(w + l);
  }
  void OnRightButton(UINT keys, POINT p) {
    log_.push_back("right " + std::to_string(keys) + " at " + std::to_string(p.x) + "," +
                   std::to_string(p.y));
  }
  void OnSize(UINT type, SIZE size) {
    log_.push_back("size " + std::to_string(type) + " " + std::to_string(size.cx) + "x" +
                   std::to_string(size.cy));
  }
  void OnPlain() { log_.push_back("plain"); }

 private:
  Log& log_;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(parent_.Create(nullptr, RECT{0, 0, 300, 200}, "parent", WS_POPUP), nullptr);
    parent_.AddComponent(&component_);
    ASSERT_NE(child_.Create(parent_.Handle(), RECT{0, 0, 50, 20}, "child", WS_CHILD, 0, kChildId),
              nullptr);
    log_.clear();
  }

  LRESULT Command(UINT id, UINT code, HWND control = nullptr) {
    return SendMessageA(parent_.Handle(), WM_COMMAND, MAKEWPARAM(id, code),
                        reinterpret_cast<LPARAM>(control));
  }

  Log log_;
  Parent parent_{log_};
  RecordingComponent component_{log_};
  ReflectingChild child_{log_};
};

TEST_F(FrameworkTest, OwnHandlersComeBeforeComponentsAndComponentsBeforeReflection) {
  Command(kOwnCommand, 3);  // the component would take it too
  Command(kComponentCommand, 0);
  Command(kChildId, 9, child_.Handle());
  component_.takeChildCommands = true;
  Command(kChildId, 9, child_.Handle());
  EXPECT_EQ(log_, (Log{"own command 100/3", "component command 200",
                       "child reflected command 300/9 from me", "component took child command"}));
}

TEST_F(FrameworkTest, ChildNotificationsAreReflectedWithTheirAnswers) {
  const LRESULT brush = SendMessageA(parent_.Handle(), WM_CTLCOLORSTATIC, 0,
                                     reinterpret_cast<LPARAM>(child_.Handle()));
  EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(GRAY_BRUSH)));
  NMHDR header{child_.Handle(), kChildId, static_cast<UINT>(-12)};
  EXPECT_EQ(SendMessageA(parent_.Handle(), WM_NOTIFY, kChildId, reinterpret_cast<LPARAM>(&header)),
            55);
  EXPECT_EQ(log_, (Log{"child reflected colour", "child reflected notify -12"}));
}

TEST_F(FrameworkTest, NotificationsFromPlainControlsGoToTheDefault) {
  const HWND plain = CreateWindowExA(0, "STATIC", "plain", WS_CHILD, 0, 0, 10, 10, parent_.Handle(),
                                     nullptr, ModuleInstance(), nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(Command(kChildId + 1, 0, plain), 0);
  EXPECT_TRUE(log_.empty());
  DestroyWindow(plain);
}

TEST_F(FrameworkTest, EntriesMatchByIdRangeAndCode) {
  Command(kRangeFirst + 4, 0);
  Command(kRangeLast + 1, kSpecialCode);
  Command(kRangeLast + 1, 0);  // nobody
  NMHDR wrongCode{nullptr, kRangeFirst, static_cast<UINT>(-6)};
  SendMessageA(parent_.Handle(), WM_NOTIFY, kRangeFirst, reinterpret_cast<LPARAM>(&wrongCode));
  NMHDR header{nullptr, kRangeFirst, static_cast<UINT>(-5)};
  EXPECT_EQ(
      SendMessageA(parent_.Handle(), WM_NOTIFY, kRangeFirst, reinterpret_cast<LPARAM>(&header)),
      1234);
  EXPECT_EQ(log_, (Log{"range 404", "code 77 from 410", "notify 400"}));
}

TEST_F(FrameworkTest, HandlersGetTypedArguments) {
  EXPECT_EQ(SendMessageA(parent_.Handle(), WM_USER + 1, 5, 6), 11);
  SendMessageA(parent_.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(-3, 40));
  SendMessageA(parent_.Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(120, 80));
  SendMessageA(parent_.Handle(), WM_USER + 2, 0, 0);
  EXPECT_EQ(log_, (Log{"declined", "raw 5,6", "right 2 at -3,40", "size 0 120x80", "plain"}));
}

TEST_F(FrameworkTest, TheObjectIsFoundFromItsWindowUntilTheWindowIsGone) {
  EXPECT_EQ(WindowObject::FromHandle(parent_.Handle()), &parent_);
  EXPECT_EQ(WindowObject::FromHandle(child_.Handle()), &child_);
  const HWND child = child_.Handle();
  DestroyWindow(child);
  EXPECT_EQ(child_.Handle(), nullptr);
  EXPECT_EQ(WindowObject::FromHandle(child), nullptr);
}

TEST_F(FrameworkTest, AttachSubclassesAndDetachGivesTheProcedureBack) {
  const HWND plain = CreateWindowExA(0, "STATIC", "plain", WS_CHILD, 0, 0, 10, 10, parent_.Handle(),
                                     nullptr, ModuleInstance(), nullptr);
  const LONG_PTR original = GetWindowLongPtrA(plain, GWLP_WNDPROC);
  {
    Parent attached(log_);
    ASSERT_TRUE(attached.Attach(plain));
    EXPECT_FALSE(Parent(log_).Attach(plain));  // one object per window
    EXPECT_NE(GetWindowLongPtrA(plain, GWLP_WNDPROC), original);
    SendMessageA(plain, WM_USER + 2, 0, 0);
    // Unhandled messages reach the static's own procedure.
    SetWindowTextA(plain, "changed");
    char text[16] = {};
    GetWindowTextA(plain, text, sizeof text);
    EXPECT_STREQ(text, "changed");
  }  // the object goes: the window keeps living with its own procedure
  EXPECT_EQ(GetWindowLongPtrA(plain, GWLP_WNDPROC), original);
  EXPECT_EQ(WindowObject::FromHandle(plain), nullptr);
  EXPECT_EQ(log_, (Log{"plain"}));
  DestroyWindow(plain);
}

// ---- Dialogs ----

class PasswordDialog : public Dialog {
 public:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<PasswordDialog> kMap[] = {
        OnMessage<WM_INITDIALOG, &PasswordDialog::OnInitDialog>(),
        OnMessage<WM_CTLCOLORSTATIC, &PasswordDialog::OnColor>(),
        OnCommand<IDCANCEL, &PasswordDialog::OnCancel>(),
        OnNotify<IDC_PASSWORD_FILE, kAnyCode, &PasswordDialog::OnNotification>(),
    };
    return DispatchMessageMap<PasswordDialog>(*this, kMap, m, result);
  }
  bool OnInitDialog(HWND, LPARAM) {
    initialised = true;
    foundDuringInit = WindowObject::FromHandle(Handle()) == this;
    if (closeAtOnce) PostMessageA(Handle(), WM_COMMAND, IDCANCEL, 0);
    return true;
  }
  HBRUSH OnColor(HDC, HWND) { return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)); }
  void OnCancel(UINT, UINT, HWND) { EndModal(IDCANCEL); }
  LRESULT OnNotification(NMHDR&) { return 4321; }

  bool closeAtOnce = false;
  bool initialised = false;
  bool foundDuringInit = false;
};

TEST(Dialog, ModelessFromATemplateAnswersDirectAndStoredResults) {
  PasswordDialog dialog;
  const HWND hwnd = dialog.CreateModeless(IDD_CHANGE_PASSWORD, nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(dialog.initialised);
  EXPECT_TRUE(dialog.foundDuringInit);
  EXPECT_NE(GetDlgItem(hwnd, IDC_PASSWORD_CONFIRM), nullptr);
  char caption[32] = {};
  GetWindowTextA(hwnd, caption, sizeof caption);
  EXPECT_STREQ(caption, "Change Password");
  // Colour answers are the dialog procedure's return value itself...
  EXPECT_EQ(SendMessageA(hwnd, WM_CTLCOLORSTATIC, 0, 0),
            reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)));
  // ...other answers travel through DWLP_MSGRESULT.
  NMHDR header{GetDlgItem(hwnd, IDC_PASSWORD_FILE), IDC_PASSWORD_FILE, 1};
  EXPECT_EQ(SendMessageA(hwnd, WM_NOTIFY, IDC_PASSWORD_FILE, reinterpret_cast<LPARAM>(&header)),
            4321);
  DestroyWindow(hwnd);
  EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(Dialog, ModalRunsUntilEndModal) {
  PasswordDialog dialog;
  dialog.closeAtOnce = true;
  EXPECT_EQ(dialog.RunModal(IDD_CHANGE_PASSWORD, nullptr), IDCANCEL);
  EXPECT_TRUE(dialog.initialised);
  EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(Dialog, AMissingTemplateFails) {
  PasswordDialog dialog;
  EXPECT_EQ(dialog.CreateModeless(9999, nullptr), nullptr);
  EXPECT_EQ(dialog.RunModal(9999, nullptr), -1);
}

// ---- Message loop ----

constexpr UINT kThreadMessage = WM_APP + 0x100;

class RecordingFilter : public MessageFilter {
 public:
  RecordingFilter(Log& log, std::string name, bool takes)
      : log_(log), name_(std::move(name)), takes_(takes) {}
  bool PreTranslateMessage(MSG& msg) override {
    if (msg.message != kThreadMessage) return false;
    log_.push_back(name_ + " saw " + std::to_string(msg.wParam));
    return takes_;
  }

 private:
  Log& log_;
  std::string name_;
  bool takes_;
};

class QuittingIdleHandler : public IdleHandler {
 public:
  explicit QuittingIdleHandler(Log& log) : log_(log) {}
  void OnIdle() override {
    log_.push_back("idle");
    if (++runs == 1) {
      PostThreadMessageA(GetCurrentThreadId(), kThreadMessage, 1, 0);
      PostThreadMessageA(GetCurrentThreadId(), kThreadMessage, 2, 0);
    } else {
      PostQuitMessage(33);
    }
  }
  int runs = 0;

 private:
  Log& log_;
};

TEST(MessageLoop, FiltersNewestFirstThenIdleHandlersAndTheQuitCode) {
  Log log;
  MessageLoop loop;
  EXPECT_EQ(MessageLoop::ForThread(), &loop);
  RecordingFilter older(log, "older", false);
  RecordingFilter newer(log, "newer", false);
  RecordingFilter removed(log, "removed", true);
  QuittingIdleHandler idle(log);
  loop.AddMessageFilter(&older);
  loop.AddMessageFilter(&removed);
  loop.AddMessageFilter(&newer);
  loop.RemoveMessageFilter(&removed);
  loop.AddIdleHandler(&idle);
  EXPECT_EQ(loop.Run(), 33);
  EXPECT_EQ(log, (Log{"idle", "newer saw 1", "older saw 1", "newer saw 2", "older saw 2", "idle"}));
}

TEST(MessageLoop, ATakingFilterStopsTheMessage) {
  Log log;
  MessageLoop loop;
  RecordingFilter older(log, "older", false);
  RecordingFilter taker(log, "taker", true);
  loop.AddMessageFilter(&older);
  loop.AddMessageFilter(&taker);
  MSG msg{nullptr, kThreadMessage, 7, 0, 0, {}};
  EXPECT_TRUE(loop.PreTranslateMessage(msg));
  EXPECT_EQ(log, (Log{"taker saw 7"}));
}

TEST(MessageLoop, TheThreadsLoopIsTheInnermost) {
  EXPECT_EQ(MessageLoop::ForThread(), nullptr);
  MessageLoop outer;
  {
    MessageLoop inner;
    EXPECT_EQ(MessageLoop::ForThread(), &inner);
  }
  EXPECT_EQ(MessageLoop::ForThread(), &outer);
}

TEST(MessageLoop, DialogFilterTakesOnlyMessagesForItsDialog) {
  PasswordDialog dialog;
  const HWND hwnd = dialog.CreateModeless(IDD_CHANGE_PASSWORD, nullptr);
  ASSERT_NE(hwnd, nullptr);
  DialogMessageFilter filter(hwnd);
  MSG forEdit{GetDlgItem(hwnd, IDC_PASSWORD_FILE), WM_CHAR, 'x', 0, 0, {}};
  EXPECT_TRUE(filter.PreTranslateMessage(forEdit));  // the dialog manager dispatched it
  char text[8] = {};
  GetWindowTextA(GetDlgItem(hwnd, IDC_PASSWORD_FILE), text, sizeof text);
  EXPECT_STREQ(text, "x");
  Log log;
  Parent other(log);
  other.Create(nullptr, RECT{0, 0, 10, 10}, "other", WS_POPUP);
  MSG elsewhere{other.Handle(), WM_CHAR, 'x', 0, 0, {}};
  EXPECT_FALSE(filter.PreTranslateMessage(elsewhere));
  DestroyWindow(hwnd);
  EXPECT_FALSE(filter.PreTranslateMessage(forEdit));
}

}  // namespace
