// A message for the desktop's notification service, for the end of a long batch the user may
// not be watching. Without a session bus or a service, nothing happens.
#pragma once

#include <QString>

// Sends the notice without waiting for an answer; false when there is no session bus to send it on.
bool NotifyDesktop(const QString &summary, const QString &body);
