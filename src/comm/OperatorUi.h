#ifndef KAVELO_COMM_OPERATORUI_H
#define KAVELO_COMM_OPERATORUI_H

#include <QString>
#include <QStringList>

#include <optional>

namespace kavelo::comm {

// Colours of the listening lamp (Shape1).
enum class Lamp
{
    White,      // the design colour, before the first listening event
    Green,      // listening (red 0, green 255, blue 0)
    Background, // listening has ended: the system's window background colour
};

// What the terminal logic needs from the operator's side: the main window, or the headless service that writes
// everything to the log. Every call comes on the thread of the event loop.
class OperatorUi
{
  public:
    virtual ~OperatorUi() = default;

    // A message box with an OK button only, no icon, titled "KAVELO"; returns when the operator has closed it.
    virtual void showMessage(const QString& text) = 0;
    // The status line of the transfers (Label1).
    virtual void setStatusLine(const QString& caption) = 0;
    // How a reload of the settings went, for the operator: the status line, unless the operator's side has no
    // other place for it than the log, where the service has said it already.
    virtual void settingsReloaded(const QString& text) { setStatusLine(text); }
    // The caption of the listen toggle (Command1): "待ち受け" or "待ち受け解除".
    virtual void setListenCaption(const QString& caption) = 0;
    // The listening lamp (Shape1).
    virtual void setLamp(Lamp lamp) = 0;
    // The ticks left until the next master poll (LCount).
    virtual void setCountdownCaption(const QString& text) = 0;
    // Ends the program at once: no further handler runs.
    virtual void endProgram() = 0;
    // Lets the operator choose one of the USB ports; the index into `ports`, or nothing when declined.
    virtual std::optional<int> chooseUsbPort(const QStringList& ports) = 0;
};

} // namespace kavelo::comm

#endif
