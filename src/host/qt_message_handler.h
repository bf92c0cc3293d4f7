#pragma once
// Routes Qt's own messages (qInfo, qWarning, ...) into the server's log.

#include <QtGlobal>

// The logging bridge level of a Qt message type; -1 for types that are not logged.
int qtMessageLogLevel(QtMsgType type);

void installQtMessageHandler();
