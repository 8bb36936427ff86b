#include "link/OpenPort.h"

#include "link/Connection.h"
#include "link/OpenPortMessages.h"
#include "link/Receiver.h"

namespace quorvik {

namespace {

namespace msg = open_port_messages;

void Check(serial::Error error, const char* message) {
    if (error != serial::Error::None)
        throw LinkError(message);
}

// The line settings every login starts from, whatever the settings file holds.
void SetFixedState(serial::Dcb& dcb) {
    dcb.BaudRate = 14400;
    dcb.ByteSize = 8;
    dcb.SetFlag(serial::Dcb::fParityBit, false);
    dcb.Parity = serial::EVENPARITY;
    dcb.StopBits = serial::ONESTOPBIT;
    dcb.SetFlag(serial::Dcb::fErrorCharBit, false);
    dcb.ErrorChar = 0xFF;
    dcb.SetFlag(serial::Dcb::fNullBit, false);
}

constexpr serial::CommTimeouts FixedTimeouts{10, 0, 0, 0, 0};

} // namespace

void OpenPort(LinkState& link, const std::string& portName) {
    if (portName.empty())
        throw LinkError(msg::NoPortName);

    // A new login never shares the line with the previous one's reader,
    // writer or port.
    StopReader(link);
    link.Writer.reset();
    link.PortHandle.reset();

    serial::Error error = serial::Error::None;
    std::unique_ptr<serial::Port> port = serial::Port::Open(portName, error);
    if (!port)
        throw LinkError(msg::CannotOpen);
    Check(port->Purge(), msg::CannotPurge);
    Check(port->ClearBreak(), msg::CannotClearBreak);
    serial::Dcb dcb;
    Check(port->GetState(dcb), msg::CannotGetState);
    SetFixedState(dcb);
    Check(port->SetState(dcb), msg::CannotSetState);
    Check(port->SetTimeouts(FixedTimeouts), msg::CannotSetTimeouts);

    link.PortHandle = std::move(port);
    try {
        link.Writer = std::make_unique<FrameWriter>(*link.PortHandle);
        StartReader(link);
    } catch (const std::exception&) {
        StopReader(link);
        link.Writer.reset();
        link.PortHandle.reset();
        throw LinkError(msg::CannotStartReader);
    }
}

} // namespace quorvik
