// The thread's message loop, with message filters (offered each message
// before it is translated and dispatched: PreTranslateMessage, e.g. a
// modeless dialog's IsDialogMessage) and idle handlers (run once each time
// the queue runs empty after a message that counts as input).
#pragma once
#include <windows.h>

#include <vector>

class MessageFilter {
 public:
  // True when the message was taken and must not be dispatched.
  virtual bool PreTranslateMessage(MSG& msg) = 0;

 protected:
  ~MessageFilter() = default;
};

class IdleHandler {
 public:
  virtual void OnIdle() = 0;

 protected:
  ~IdleHandler() = default;
};

// Offers every message to the dialog manager of one modeless dialog, which
// gives keyboard navigation (Tab, arrows, mnemonics, Esc) into it.
class DialogMessageFilter : public MessageFilter {
 public:
  explicit DialogMessageFilter(HWND dialog = nullptr) : dialog_(dialog) {}
  void SetDialog(HWND dialog) { dialog_ = dialog; }
  bool PreTranslateMessage(MSG& msg) override;

 private:
  HWND dialog_;
};

// One per thread: constructing it makes it the thread's loop (ForThread),
// destroying it removes it again. Filters and handlers are not owned.
class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  static MessageLoop* ForThread();

  void AddMessageFilter(MessageFilter* filter);
  void RemoveMessageFilter(MessageFilter* filter);
  void AddIdleHandler(IdleHandler* handler);
  void RemoveIdleHandler(IdleHandler* handler);

  // Runs until WM_QUIT and returns its code.
  int Run();
  // Offers a message to the filters, the most recently added first.
  bool PreTranslateMessage(MSG& msg);
  void RunIdleHandlers();

 private:
  MessageLoop* previous_;
  std::vector<MessageFilter*> filters_;
  std::vector<IdleHandler*> idleHandlers_;
};
