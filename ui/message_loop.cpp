#include "ui/message_loop.h"

#include <algorithm>

namespace {

thread_local MessageLoop* currentLoop = nullptr;

// Messages after which the idle handlers run again when the queue is empty;
// the frequent background ones do not count.
bool CountsAsInput(const MSG& msg) {
  switch (msg.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case WM_TIMER:
    case WM_NULL:
      return false;
    default:
      return true;
  }
}

template <class T>
void Remove(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

bool DialogMessageFilter::PreTranslateMessage(MSG& msg) {
  return dialog_ != nullptr && IsWindow(dialog_) && IsDialogMessageA(dialog_, &msg);
}

MessageLoop::MessageLoop() : previous_(currentLoop) { currentLoop = this; }

MessageLoop::~MessageLoop() { currentLoop = previous_; }

MessageLoop* MessageLoop::ForThread() { return currentLoop; }

void MessageLoop::AddMessageFilter(MessageFilter* filter) { filters_.push_back(filter); }

void MessageLoop::RemoveMessageFilter(MessageFilter* filter) { Remove(filters_, filter); }

void MessageLoop::AddIdleHandler(IdleHandler* handler) { idleHandlers_.push_back(handler); }

void MessageLoop::RemoveIdleHandler(IdleHandler* handler) { Remove(idleHandlers_, handler); }

bool MessageLoop::PreTranslateMessage(MSG& msg) {
  const std::vector<MessageFilter*> filters = filters_;  // a filter may remove itself
  for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
    if ((*it)->PreTranslateMessage(msg)) return true;
  }
  return false;
}

void MessageLoop::RunIdleHandlers() {
  const std::vector<IdleHandler*> handlers = idleHandlers_;
  for (IdleHandler* handler : handlers) handler->OnIdle();
}

int MessageLoop::Run() {
  bool idle = true;
  MSG msg{};
  for (;;) {
    if (idle && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      RunIdleHandlers();
      idle = false;
    }
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) return -1;  // the queue cannot be read: nothing more can run
    if (got == 0) break;
    if (!PreTranslateMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (CountsAsInput(msg)) idle = true;
  }
  return static_cast<int>(msg.wParam);
}
