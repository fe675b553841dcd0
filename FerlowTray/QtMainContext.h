#pragma once

#include <QObject>

#include "Ferlow/MainContext.h"

namespace ferlow {

// The main context of the tray app: tasks and timers run on the Qt event
// loop of the thread that made this object (the GUI thread).
class QtMainContext final : public MainContext {
public:
    QtMainContext();
    ~QtMainContext() override;

    void post(Task task) override;
    std::unique_ptr<Timer> every(double interval, Task task) override;
    double now() const override { return steadyNow(); }

private:
    // Tasks are queued to this object, so they run on its thread and are
    // dropped if it is gone.
    QObject m_receiver;
};

} // namespace ferlow
