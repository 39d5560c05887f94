#include "QtMainThread.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/MainThreadQueue.h"

void InstallQtMainThreadDispatcher() {
  SetMainThreadDispatcher([](TMainThreadTask task, int delayMs) {
    // Posting is safe from any thread; the timer is made on the main thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [task = std::move(task), delayMs] {
          if (delayMs > 0)
            QTimer::singleShot(delayMs, QCoreApplication::instance(), task);
          else
            task();
        },
        Qt::QueuedConnection);
  });
}
