#pragma once

#include <cstddef>

class QEvent;
class QObject;

// A hook on one window's events, in the manner of replacing its window procedure: every hook of
// a window sits in one chain, newest first, and each hook may handle an event itself or pass it
// on to the hook installed before it, and from the oldest hook to the window's own handling.
// The chain is run by one shared event filter per window, installed with the first hook and
// removed with the last, so the window's own handling is untouched while no hook is attached.
// Window thread only; the hook registry is not locked.
class CSubclassWnd {
public:
    CSubclassWnd() = default;
    CSubclassWnd(const CSubclassWnd&) = delete;
    CSubclassWnd& operator=(const CSubclassWnd&) = delete;
    // Unhooks: a destroyed hook must never stay reachable from its window's chain.
    virtual ~CSubclassWnd();

    // With a window: puts this hook at the head of the window's chain (unhooking it from any
    // other window first). With nullptr: takes this hook out of its chain. Returns true.
    bool AttachToWindow(QObject* window);

    QObject* Window() const { return window_; }
    CSubclassWnd* NextHook() const { return nextHook_; }

    // The newest hook of a window, or nullptr when it has none.
    static CSubclassWnd* HeadHook(const QObject* window);
    // How many windows have at least one hook.
    static std::size_t HookedWindowCount();

protected:
    // One event of the hooked window; true when it is done with (the window's own handling
    // then does not run again). The default passes it on.
    virtual bool HandleMessage(QEvent* event);

    // Passes the event down the chain: to the next hook, or, past the oldest hook, to the
    // window's own handling right now. Hooks may pass a different event in its place.
    bool PassOn(QEvent* event);

private:
    friend class HookDispatcher;
    void Unhook();

    QObject* window_ = nullptr;
    CSubclassWnd* nextHook_ = nullptr;
};
