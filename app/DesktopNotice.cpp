#include "app/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

bool NotifyDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application, no notice to replace, icon, summary, body, no actions, no hints, the server's timeout.
    notify << QStringLiteral("Velox") << 0u << QStringLiteral("velox") << summary << body << QStringList()
           << QVariantMap() << -1;
    // Not waiting: a desktop without the service answers with an error nobody needs to read.
    return bus.send(notify);
}

QString NoOpenerText(const QUrl &url)
{
    return QStringLiteral("No program is set up on this desktop to open \"%1\".")
        .arg(url.isLocalFile() ? url.toLocalFile() : url.toString());
}

namespace desktop_open {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");

// xdg-open, else Qt's services, whose answer is only whether a program could be started.
bool WithoutPortal(const QUrl &url, QObject *context, const std::function<void()> &failed)
{
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty())
        return QDesktopServices::openUrl(url);
    auto *process = new QProcess(context);
    process->setProgram(xdgOpen);
    process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString()});
    // Nothing to read, and a program it starts keeps no pipe to this one.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // It ends once the program has started, or, on a desktop it does not know, when the program
    // ends; a status other than 0 means that nothing opened the file.
    QObject::connect(process, &QProcess::finished, process, [process, failed](int code, QProcess::ExitStatus how) {
        if (how != QProcess::NormalExit || code != 0)
            failed();
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        failed();
        process->deleteLater();
    });
    // Still waiting for its program when the window goes: only xdg-open ends; what it started stays.
    QObject::connect(context, &QObject::destroyed, process, [process] {
        process->disconnect();
        process->kill();
        process->waitForFinished();
    });
    process->start();
    return true;
}

// One request to the portal. Its Response tells whether a program opened the file: 0 it did, 1
// the person cancelled the portal's choice, 2 nothing did. A portal that refuses the call itself
// (an old one, one without the interface) leaves the file to xdg-open.
class TPortalRequest : public QObject {
    Q_OBJECT

public:
    TPortalRequest(const QUrl &url, QObject *context, std::function<void()> failed)
        : QObject(context), Url_(url), Failed_(std::move(failed))
    {
        static int requests = 0;
        const QString token = QStringLiteral("velox%1").arg(++requests);
        // The path of the answer's object is known before the call, so none is missed.
        const QString sender = Bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        Listen(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));
        const QVariantMap options{{QStringLiteral("handle_token"), token}};
        QDBusMessage call =
            QDBusMessage::createMethodCall(kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
                                           QStringLiteral("org.freedesktop.portal.OpenURI"),
                                           url.isLocalFile() ? QStringLiteral("OpenFile") : QStringLiteral("OpenURI"));
        if (url.isLocalFile()) {
            const int fd = ::open(QFile::encodeName(url.toLocalFile()).constData(), O_PATH | O_CLOEXEC);
            if (fd < 0) {
                Answered(2);
                return;
            }
            const QDBusUnixFileDescriptor file(fd); // holds a copy
            ::close(fd);
            call << QString() << QVariant::fromValue(file) << options;
        } else {
            call << QString() << url.toString() << options;
        }
        auto *watcher = new QDBusPendingCallWatcher(Bus_.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
            answer->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *answer;
            if (reply.isError()) {
                Unlisten();
                if (!WithoutPortal(Url_, parent(), Failed_))
                    Failed_();
                deleteLater();
            } else if (reply.value().path() != Path_) { // a portal older than handle_token
                Unlisten();
                Listen(reply.value().path());
            }
        });
    }

public slots:
    void Answered(uint response, const QVariantMap & = {})
    {
        Unlisten();
        if (response == 2)
            Failed_();
        deleteLater();
    }

private:
    void Listen(const QString &path)
    {
        Path_ = path;
        Bus_.connect(kPortal, Path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                     SLOT(Answered(uint, QVariantMap)));
    }
    void Unlisten()
    {
        Bus_.disconnect(kPortal, Path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                        this, SLOT(Answered(uint, QVariantMap)));
    }

    QDBusConnection Bus_ = QDBusConnection::sessionBus();
    QUrl Url_;
    std::function<void()> Failed_;
    QString Path_;
};

} // namespace desktop_open

bool OpenWithDesktop(const QUrl &url, QObject *context, std::function<void()> failed)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(desktop_open::kPortal).value()) {
        new desktop_open::TPortalRequest(url, context, std::move(failed));
        return true;
    }
    return desktop_open::WithoutPortal(url, context, failed);
}

#include "DesktopNotice.moc"
