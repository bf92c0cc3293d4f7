#include "host/qt_message_handler.h"

#include <QByteArray>
#include <QString>

#include "suite/logbridge/spdlog_bridge.h"

namespace {

void writeQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    int level = qtMessageLogLevel(type);
    if (level < 0) return;
    SpdlogBridge::getInstance().stream(level)
        << ::nimbrel::logging::linePrefix(context.file ? context.file : "", context.line,
                                          context.function ? context.function : "")
        << message.toLocal8Bit();
}

}  // namespace

int qtMessageLogLevel(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return 1;
        case QtInfoMsg:
            return 2;
        case QtWarningMsg:
            return 3;
        case QtCriticalMsg:
            return 4;
        case QtFatalMsg:
            return 5;
    }
    return -1;
}

void installQtMessageHandler() { qInstallMessageHandler(writeQtMessage); }
