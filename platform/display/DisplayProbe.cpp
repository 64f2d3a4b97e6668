#include "DisplayProbe.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace corvane {

namespace {

// What the X server at display says to a connection attempt; nullopt when it accepts one.
std::optional<QString> xProblem(const QProcessEnvironment& environment, DisplayHold* hold)
{
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    if (display.isEmpty())
        return QStringLiteral("DISPLAY is not set");
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(connection) == 0) {
        if (hold)
            hold->keep(connection);
        else
            xcb_disconnect(connection);
        return std::nullopt;
    }
    xcb_disconnect(connection);
    return QStringLiteral("no X server answers at DISPLAY=%1").arg(display);
}

// The compositor's socket as libwayland-client finds it (wayland-0 unless WAYLAND_DISPLAY
// names another), tried with a plain connect.
std::optional<QString> waylandProblem(const QProcessEnvironment& environment)
{
    if (environment.contains(QStringLiteral("WAYLAND_SOCKET")))
        return std::nullopt; // handed an open connection by whoever started us
    const QString name =
        environment.value(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    QString path = name;
    if (!QDir::isAbsolutePath(name)) {
        const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
        if (runtime.isEmpty())
            return QStringLiteral("no Wayland display (XDG_RUNTIME_DIR is not set)");
        path = runtime + u'/' + name;
    }
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (encoded.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return QStringLiteral("no Wayland display at %1").arg(path);
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    if (connected)
        return std::nullopt;
    return QStringLiteral("no Wayland display at %1").arg(path);
}

} // namespace

void DisplayHold::keep(xcb_connection_t* connection)
{
    release();
    connection_ = connection;
}

void DisplayHold::release()
{
    if (connection_)
        xcb_disconnect(connection_);
    connection_ = nullptr;
}

std::optional<QString> displayProblem(const QProcessEnvironment& environment, DisplayHold* hold)
{
    // QT_QPA_PLATFORM is a list of plugins, each with optional arguments after a colon
    // ("wayland;xcb", "vnc:size=800x600"); Qt takes the first that starts. Without it, the
    // desktop session decides between X and Wayland, so either will do.
    QStringList platforms;
    for (const QString& entry :
         environment.value(QStringLiteral("QT_QPA_PLATFORM")).split(u';', Qt::SkipEmptyParts))
        platforms.append(entry.section(u':', 0, 0).trimmed());
    if (platforms.isEmpty())
        platforms = {QStringLiteral("xcb"), QStringLiteral("wayland")};

    QStringList problems;
    for (const QString& platform : platforms) {
        std::optional<QString> problem;
        if (platform == QLatin1String("xcb"))
            problem = xProblem(environment, hold);
        else if (platform.startsWith(QLatin1String("wayland")))
            problem = waylandProblem(environment);
        else
            return std::nullopt; // needs no display server, or one we cannot ask
        if (!problem)
            return std::nullopt;
        if (!problems.contains(*problem))
            problems.append(*problem);
    }
    return problems.join(QStringLiteral("; "));
}

void preferSocketTransfer()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

} // namespace corvane
