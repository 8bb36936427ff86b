#include "link/Connection.h"

#include "link/Frames.h"
#include "link/LinkMessages.h"
#include "link/Receiver.h"

#include <deque>

namespace quorvik {

namespace {

void WriteControl(LinkState& link, Command command) {
    const auto frame = ControlFrame(command);
    WriteFrame(link, frame.data(), frame.size());
}

// Drops every unanswered frame: answers after a reconnect must not apply to them.
void DropPending(LinkState& link, LineFate fate) {
    std::deque<PendingMessage> dropped;
    {
        std::lock_guard lock(link.Lock);
        dropped.swap(link.PendingFrame);
    }
    for (const auto& message : dropped)
        link.Ui->ReportLine(message.Line, fate);
}

} // namespace

void BeginConnection(LinkState& link) {
    {
        std::lock_guard lock(link.Lock);
        link.Connected = 1;
    }
    WriteControl(link, CmdHello);
    link.Ui->TimerWait->SetEnabled(true);
    link.OptionsStep = true;
    link.Ui->TimerOptions->SetEnabled(true);
}

void ConnectExecute(LinkState& link) {
    {
        std::lock_guard lock(link.Lock);
        if (link.Connected == 1)
            return;
    }
    BeginConnection(link);
}

void EndConnection(LinkState& link) {
    WriteControl(link, CmdBye);
    link.Ui->SetStatus(text::StatusBroken);
    {
        std::lock_guard lock(link.Lock);
        link.Connected = 0;
    }
    link.Ui->SetConnectImage(ImageDisconnected);
}

constexpr int CloseFlushMs = 2000;

void CloseLink(LinkState& link) {
    if (link.Writer) {
        WriteControl(link, CmdBye);
        // The goodbye is worth a moment, but a line that takes nothing
        // (a stalled adapter) must not hold the program's exit.
        link.Writer->Flush(CloseFlushMs);
    }
    StopReader(link); // cancels the port's waits and writes, then joins
    link.Writer.reset();
    link.PortHandle.reset();
    DropPending(link, LineFate::Broken);
}

void TimerWaitTimer(LinkState& link) {
    link.Ui->TimerWait->SetEnabled(false);
    {
        std::lock_guard lock(link.Lock);
        link.Connected = 0;
    }
    link.Ui->SetStatus(text::StatusTimedOut);
    WriteControl(link, CmdBye);
    // The link was just declared broken; the node must not show it live.
    link.Ui->SetConnectImage(ImageDisconnected);
    DropPending(link, LineFate::TimedOut);
}

void TimerOptionsTimer(LinkState& link) {
    link.Ui->TimerOptions->SetEnabled(false);
    {
        std::lock_guard lock(link.Lock);
        if (link.Connected == 0)
            return;
    }
    serial::Port* port = link.PortHandle.get();
    if (link.OptionsStep) {
        serial::Dcb dcb;
        if (!port || port->GetState(dcb) != serial::Error::None)
            throw LinkError(text::CannotGetPortParams);
        {
            std::lock_guard lock(link.Lock);
            link.PortDcb = dcb;
        }
        const Frame8 frame = PortParamsFrame(dcb);
        WriteFrame(link, frame.data(), frame.size());
        if (port->SetState(dcb) != serial::Error::None)
            throw LinkError(text::CannotSetPortParams);
        link.OptionsStep = false;
        link.Ui->SetStatus(text::StatusSettingTimeouts);
        link.Ui->TimerOptions->SetEnabled(true);
    } else {
        serial::CommTimeouts timeouts;
        {
            std::lock_guard lock(link.Lock);
            timeouts = link.PortTimeouts;
        }
        const Frame8 frame = TimeoutsFrame(timeouts);
        WriteFrame(link, frame.data(), frame.size());
        if (!port || port->SetTimeouts(timeouts) != serial::Error::None)
            throw LinkError(text::CannotSetPortTimeouts);
        link.OptionsStep = true;
        link.Ui->SetStatus(text::StatusEstablished);
    }
}

} // namespace quorvik
