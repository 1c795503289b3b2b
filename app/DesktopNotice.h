// The desktop's services the window uses: the notification service, for the end of a long batch
// the user may not be watching (without a session bus or a service, nothing happens), and the
// programs that open files, folders and addresses.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QObject;

// Sends the notice without waiting for an answer; false when there is no session bus to send it on.
bool NotifyDesktop(const QString &summary, const QString &body);

// Opens url with the desktop's program for it: through the desktop portal when one runs, else
// with xdg-open, else with Qt's services. False at once when nothing could be asked; failed() is
// called later, on context's thread, when the desktop answers that nothing opened (the portal's
// answer, xdg-open's exit status). Requests still open when context goes are left.
bool OpenWithDesktop(const QUrl &url, QObject *context, std::function<void()> failed);

// What the window says when nothing opened url.
QString NoOpenerText(const QUrl &url);
