// DesktopInstance: one run of the desktop application per data folder. The first run on a folder
// owns a name on the session bus made from the folder's path; a later run on the same folder
// finds that name taken, asks its owner to come forward and ends, rather than measuring the same
// network twice into the same files. Without a session bus every run stands alone. GtkShell owns
// one; everything runs on the UI thread, and a request from a later run arrives while the UI
// thread's loop runs.
#pragma once

#include <functional>
#include <string>

typedef struct _GApplication GApplication;

namespace quillon::lnx {

class DesktopInstance {
public:
    // folder: the data folder the runs are kept apart by; empty: every run stands alone.
    explicit DesktopInstance(std::string folder);
    ~DesktopInstance();
    DesktopInstance(const DesktopInstance&) = delete;
    DesktopInstance& operator=(const DesktopInstance&) = delete;

    // True when another run owns the folder; it has been asked to come forward. Otherwise this
    // run owns it from now on, and later runs reach `comeForward`.
    bool HandOver(std::function<void()> comeForward);

private:
    static void OnActivated(GApplication*, void* data);

    const std::string folder_;
    GApplication* owned_ = nullptr;
    std::function<void()> comeForward_;
};

}  // namespace quillon::lnx
