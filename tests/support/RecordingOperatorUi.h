#ifndef KAVELO_TESTS_SUPPORT_RECORDINGOPERATORUI_H
#define KAVELO_TESTS_SUPPORT_RECORDINGOPERATORUI_H

#include "comm/OperatorUi.h"

#include <QStringList>

#include <optional>

namespace kavelo::test {

// An OperatorUi that remembers what it was shown; every call is also appended to `calls` in order.
class RecordingOperatorUi : public comm::OperatorUi
{
  public:
    void showMessage(const QString& text) override
    {
        messages << text;
        calls << QStringLiteral("message:") + text;
    }
    void setStatusLine(const QString& caption) override
    {
        statusLine = caption;
        statusLines << caption;
        calls << QStringLiteral("status:") + caption;
    }
    void setListenCaption(const QString& caption) override
    {
        listenCaption = caption;
        calls << QStringLiteral("listen:") + caption;
    }
    void setLamp(comm::Lamp value) override
    {
        lamp = value;
        calls << QStringLiteral("lamp:%1").arg(static_cast<int>(value));
    }
    void setCountdownCaption(const QString& text) override
    {
        countdown = text;
        calls << QStringLiteral("count:") + text;
    }
    void endProgram() override
    {
        ended = true;
        calls << QStringLiteral("end");
    }
    std::optional<int> chooseUsbPort(const QStringList& ports) override
    {
        offeredPorts = ports;
        calls << QStringLiteral("choose");
        return portChoice;
    }

    QStringList messages;
    QString statusLine;
    QStringList statusLines;
    QString listenCaption = QStringLiteral("待ち受け");
    comm::Lamp lamp = comm::Lamp::White;
    QString countdown = QStringLiteral("1");
    bool ended = false;
    QStringList offeredPorts;
    std::optional<int> portChoice = 0;
    QStringList calls;
};

} // namespace kavelo::test

#endif
