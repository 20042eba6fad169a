#include "decor/CSubclassWnd.h"

#include <QEvent>
#include <QObject>
#include <unordered_map>

// Runs a window's hook chain. One per hooked window; it lives exactly as long as the window
// has hooks, and it drops the whole chain when the window itself goes away.
class HookDispatcher : public QObject {
public:
    explicit HookDispatcher(QObject* window) : window_(window) {
        connection_ =
            QObject::connect(window, &QObject::destroyed, this, [this] { WindowDestroyed(); });
        window->installEventFilter(this);
    }
    ~HookDispatcher() override { QObject::disconnect(connection_); }

    CSubclassWnd* head = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || head == nullptr) {
            return false;
        }
        return head->HandleMessage(event);
    }

    // Every hook of the window forgets it; the registry entry goes with this dispatcher.
    void WindowDestroyed();

    // The window's own event handling (its virtual event()), bypassing the filters, which
    // have run already. The event counts as done with afterwards: it must not be delivered
    // a second time.
    bool Deliver(QEvent* event) {
        window_->event(event);
        return true;
    }

private:
    QObject* window_;
    QMetaObject::Connection connection_;
};

namespace {

// Native window -> the dispatcher holding the head of its chain. Emptied as hooks go.
std::unordered_map<const QObject*, HookDispatcher*>& Registry() {
    static std::unordered_map<const QObject*, HookDispatcher*> registry;
    return registry;
}

}  // namespace

void HookDispatcher::WindowDestroyed() {
    CSubclassWnd* hook = head;
    while (hook != nullptr) {
        CSubclassWnd* next = hook->nextHook_;
        hook->window_ = nullptr;
        hook->nextHook_ = nullptr;
        hook = next;
    }
    head = nullptr;
    Registry().erase(window_);
    delete this;
}

CSubclassWnd::~CSubclassWnd() {
    Unhook();
}

bool CSubclassWnd::AttachToWindow(QObject* window) {
    Unhook();
    if (window == nullptr) {
        return true;
    }
    HookDispatcher*& dispatcher = Registry()[window];
    if (dispatcher == nullptr) {
        dispatcher = new HookDispatcher(window);
    }
    nextHook_ = dispatcher->head;
    dispatcher->head = this;
    window_ = window;
    return true;
}

void CSubclassWnd::Unhook() {
    if (window_ == nullptr) {
        return;
    }
    const auto found = Registry().find(window_);
    if (found != Registry().end()) {
        HookDispatcher* dispatcher = found->second;
        if (dispatcher->head == this) {
            dispatcher->head = nextHook_;
        } else {
            for (CSubclassWnd* hook = dispatcher->head; hook != nullptr; hook = hook->nextHook_) {
                if (hook->nextHook_ == this) {
                    hook->nextHook_ = nextHook_;
                    break;
                }
            }
        }
        if (dispatcher->head == nullptr) {
            // The last hook went: the window's own handling alone again.
            window_->removeEventFilter(dispatcher);
            Registry().erase(found);
            delete dispatcher;
        }
    }
    window_ = nullptr;
    nextHook_ = nullptr;
}

bool CSubclassWnd::HandleMessage(QEvent* event) {
    return PassOn(event);
}

bool CSubclassWnd::PassOn(QEvent* event) {
    if (nextHook_ != nullptr) {
        return nextHook_->HandleMessage(event);
    }
    if (window_ == nullptr) {
        return false;
    }
    const auto found = Registry().find(window_);
    if (found == Registry().end()) {
        return false;
    }
    return found->second->Deliver(event);
}

CSubclassWnd* CSubclassWnd::HeadHook(const QObject* window) {
    const auto found = Registry().find(window);
    return found == Registry().end() ? nullptr : found->second->head;
}

std::size_t CSubclassWnd::HookedWindowCount() {
    return Registry().size();
}
