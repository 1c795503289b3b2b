#include "app/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

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
