#include "comm/ListenControl.h"

#include "platform/Log.h"

namespace kavelo::comm {

ListenControl::ListenControl(transfer::CommServer& server, OperatorUi& ui, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_ui(ui)
{
    connect(&m_server, &transfer::CommServer::ListenStarted, this, &ListenControl::onListenStarted);
    connect(&m_server, &transfer::CommServer::ListenStopped, this, &ListenControl::onListenStopped);
    connect(&m_server, &transfer::CommServer::NoArgumentEvent, this, &ListenControl::onNoArgumentEvent);
}

void ListenControl::toggleListening()
{
    const bool on = m_server.Listening();
    m_server.setListening(!on);
    m_ui.setStatusLine(QString());
}

bool ListenControl::searchUsbUnit()
{
    if (m_server.Listening()) {
        m_ui.showMessage(kMessageListening);
        return true;
    }
    return SelectUsbPort();
}

bool ListenControl::SelectUsbPort()
{
    const qint16 count = m_server.CountUsbPorts(kCountUsbPortsRequest);
    if (count == 0) {
        m_ui.showMessage(kMessageNoUsbPort);
        return true;
    }
    if (!m_server.ChooseUsbPort()) {
        m_ui.showMessage(kMessageNoPortChosen);
        qCInfo(lcComm) << "no USB port chosen: the program ends";
        m_ui.endProgram();
        return false;
    }
    return true;
}

void ListenControl::onListenStarted()
{
    m_ui.setLamp(Lamp::Green);
    m_ui.setListenCaption(kCaptionStopListening);
}

void ListenControl::onListenStopped(const QVariant&)
{
    m_ui.setLamp(Lamp::Background);
    m_ui.setListenCaption(kCaptionListen);
}

void ListenControl::onNoArgumentEvent() {}

} // namespace kavelo::comm
