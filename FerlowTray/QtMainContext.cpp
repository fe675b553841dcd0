#include "FerlowTray/QtMainContext.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace ferlow {

namespace {

struct QtTimer final : MainContext::Timer {
    QTimer timer;
};

} // namespace

QtMainContext::QtMainContext() = default;

QtMainContext::~QtMainContext() = default;

void QtMainContext::post(Task task)
{
    // A queued invocation is safe from any thread and never runs before
    // returning, even when called on the GUI thread.
    QMetaObject::invokeMethod(&m_receiver, std::move(task), Qt::QueuedConnection);
}

std::unique_ptr<MainContext::Timer> QtMainContext::every(double interval, Task task)
{
    auto handle = std::make_unique<QtTimer>();
    handle->timer.setInterval(static_cast<int>(std::lround(std::min(interval * 1000.0, 2.0e9))));
    QObject::connect(&handle->timer, &QTimer::timeout, &m_receiver, std::move(task));
    handle->timer.start();
    return handle;
}

} // namespace ferlow
