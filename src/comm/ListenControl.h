#ifndef KAVELO_COMM_LISTENCONTROL_H
#define KAVELO_COMM_LISTENCONTROL_H

#include "comm/OperatorUi.h"
#include "transfer/CommServer.h"

#include <QObject>

namespace kavelo::comm {

inline const QString kCaptionListen = QStringLiteral("待ち受け");
inline const QString kCaptionStopListening = QStringLiteral("待ち受け解除");
inline const QString kMessageListening = QStringLiteral("現在待ち受け中です");
inline const QString kMessageNoUsbPort = QStringLiteral("接続可能なUSBポートがありません");
inline const QString kMessageNoPortChosen = QStringLiteral("USBポートが選択されませんでした");
constexpr qint32 kCountUsbPortsRequest = 2048;

// The listen toggle, the USB communication unit search and the listening events, free of widgets. The caption of
// the toggle and the lamp follow the server's events only, never the click.
class ListenControl : public QObject
{
    Q_OBJECT

  public:
    // Connects itself to the server's listening events.
    ListenControl(transfer::CommServer& server, OperatorUi& ui, QObject* parent = nullptr);

    // Click of the listen toggle (Command1): reads Listening, writes the opposite, empties the status line.
    void toggleListening();
    // Click of the USB search (Command2). Returns false when the program ends (the operator chose no port).
    bool searchUsbUnit();

    void onListenStarted();
    void onListenStopped(const QVariant& unused);
    void onNoArgumentEvent();

  private:
    // Returns false when the operator declined to choose a port and the program ends.
    bool SelectUsbPort();

    transfer::CommServer& m_server;
    OperatorUi& m_ui;
};

} // namespace kavelo::comm

#endif
