#include "MonitorLink.h"

#include "ErrorReporting.h"
#include "MonitorWindow.h"
#include "Receiver.h"
#include "SampleSource.h"
#include "SoundPlayer.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QWidget>

namespace corvane {

MonitorLink::MonitorLink(Receiver& receiver, QWidget* mainWindow, QWidget* picture)
    : QObject(mainWindow), receiver_(receiver), mainWindow_(mainWindow), picture_(picture),
      monitorAction_(new QAction(tr("Monitor"), this)),
      savePictureAction_(new QAction(tr("Save picture…"), this))
{
    monitorAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    mainWindow_->addAction(monitorAction_);
    connect(monitorAction_, &QAction::triggered, this, [this] { openMonitor(); });
    connect(savePictureAction_, &QAction::triggered, this, &MonitorLink::savePicture);
    picture_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(picture_, &QWidget::customContextMenuRequested, this, &MonitorLink::showContextMenu);
}

MonitorLink::~MonitorLink()
{
    tap_.reset();
    delete monitor_;
}

void MonitorLink::showContextMenu(const QPoint& position)
{
    auto* menu = new QMenu(mainWindow_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(monitorAction_);
    menu->addAction(savePictureAction_);
    menu->popup(picture_->mapToGlobal(position));
}

MonitorWindow* MonitorLink::openMonitor()
{
    if (!monitor_) {
        monitor_ = new MonitorWindow;
        monitor_->setAttribute(Qt::WA_DeleteOnClose);
        monitor_->setFileChooser(chooseFile_);
        // The first time, beside the main window rather than over it.
        if (!monitor_->placeRestored())
            monitor_->move(mainWindow_->frameGeometry().topRight() + QPoint(8, 0));
        monitor_->setFeed(feed_);
        QString error;
        if (feed_.source && !monitor_->takeFeed(feed_.source(), feed_.sourceAddress, &error))
            qWarning("The Monitor is fed the main window's samples: %s", qPrintable(error));
        // The main window's blocks, for whenever the Monitor has no source of its own.
        if (!tap_ && receiver_.attached()) {
            tap_ = receiver_.engine().addDecodedTap([this](const DecodedBlock& b) {
                if (monitor_ && !monitor_->receiver().source() && b.count > 0)
                    monitor_->receiver().feedU8(b.data, static_cast<std::size_t>(b.count),
                                                b.sampleRate);
            });
        }
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
    return monitor_;
}

void MonitorLink::savePicture()
{
    // Taken now, so the picture saved is the one on screen when the user asked.
    QString error;
    if (!savePictureAs(mainWindow_, chooseFile_, receiver_.surface().image().copy(), &error))
        reportError(error);
}

} // namespace corvane
