#include "link/Receiver.h"

#include "link/Codec.h"
#include "link/Connection.h"
#include "link/Frames.h"
#include "link/LinkMessages.h"
#include "link/Send.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace quorvik {

namespace {

// Refusals of one frame before its sender gives up, so two ends never ping-pong forever.
constexpr int MaxResends = 5;
// Wake-ups in a row with nothing to read before the port counts as hung up.
constexpr int MaxEmptyWakes = 3;

void OnUi(LinkState& link, std::function<void()> task) {
    link.Ui->Post(std::move(task));
}

void WriteControl(LinkState& link, Command command) {
    const auto frame = ControlFrame(command);
    WriteFrame(link, frame.data(), frame.size());
}

// Ends the connection under the lock; returns the frames it leaves unanswered.
std::deque<PendingMessage> Disconnect(LinkState& link) {
    std::lock_guard lock(link.Lock);
    link.Connected = 0;
    std::deque<PendingMessage> dropped;
    dropped.swap(link.PendingFrame);
    return dropped;
}

// The UI side of a connection that ended here: the lines' fates, the timer, the node.
void ShowEnded(LinkState& link, std::deque<PendingMessage> dropped, const char* status,
               std::optional<LineFate> oldestFate) {
    OnUi(link, [&link, dropped = std::move(dropped), status, oldestFate] {
        link.Ui->TimerWait->SetEnabled(false);
        for (std::size_t i = 0; i < dropped.size(); ++i)
            link.Ui->ReportLine(dropped[i].Line,
                                i == 0 && oldestFate ? *oldestFate : LineFate::Broken);
        link.Ui->SetConnectImage(ImageDisconnected);
        link.Ui->SetStatus(status);
    });
}

void OnPortParams(LinkState& link, const Frame8& frame) {
    serial::Dcb dcb;
    {
        std::lock_guard lock(link.Lock);
        dcb = link.PortDcb;
    }
    serial::Port* port = link.PortHandle.get();
    if (port)
        port->GetState(dcb);
    ApplyPortParams(frame, dcb);
    {
        std::lock_guard lock(link.Lock);
        link.PortDcb = dcb;
    }
    if (!port || port->SetState(dcb) != serial::Error::None)
        throw LinkError(text::CannotSetPortParams);
    OnUi(link, [&link] { link.Ui->SetStatus(text::StatusSettingTimeouts); });
}

void OnTimeouts(LinkState& link, const Frame8& frame) {
    serial::CommTimeouts timeouts;
    {
        std::lock_guard lock(link.Lock);
        timeouts = link.PortTimeouts;
    }
    serial::Port* port = link.PortHandle.get();
    if (port)
        port->GetTimeouts(timeouts);
    ApplyTimeouts(frame, timeouts);
    {
        std::lock_guard lock(link.Lock);
        link.PortTimeouts = timeouts;
    }
    OnUi(link, [&link] { link.Ui->SetStatus(text::StatusEstablishedByPeer); });
    if (port)
        port->SetTimeouts(timeouts);
}

void OnHello(LinkState& link) {
    bool wasConnected;
    {
        std::lock_guard lock(link.Lock);
        wasConnected = link.Connected != 0;
        link.Connected = 1;
    }
    if (!wasConnected)
        WriteControl(link, CmdHello);
    OnUi(link, [&link] {
        link.Ui->TimerWait->SetEnabled(false);
        link.Ui->SetConnectImage(ImageConnected);
        link.Ui->SetStatus(text::StatusSettingPortParams);
    });
}

void OnAck(LinkState& link) {
    std::optional<std::string> delivered;
    {
        std::lock_guard lock(link.Lock);
        if (!link.PendingFrame.empty()) {
            delivered = std::move(link.PendingFrame.front().Line);
            link.PendingFrame.pop_front();
        }
    }
    OnUi(link, [&link, delivered = std::move(delivered)] {
        SyncAnswerTimer(link);
        if (delivered)
            link.Ui->ReportLine(*delivered, LineFate::Delivered);
    });
}

void OnResend(LinkState& link) {
    std::optional<std::pair<uint64_t, std::vector<uint8_t>>> again;
    bool givenUp = false;
    {
        std::lock_guard lock(link.Lock);
        if (!link.PendingFrame.empty()) {
            PendingMessage& oldest = link.PendingFrame.front();
            if (oldest.Resends >= MaxResends) {
                givenUp = true;
            } else {
                ++oldest.Resends;
                oldest.Sent = false;
                again.emplace(oldest.Id, oldest.Frame);
            }
        }
    }
    if (givenUp) {
        auto dropped = Disconnect(link);
        WriteControl(link, CmdBye);
        ShowEnded(link, std::move(dropped), text::StatusTimedOut, LineFate::GivenUp);
        return;
    }
    // Nothing pending: a released frame is never written again.
    OnUi(link, [&link] { SyncAnswerTimer(link); });
    if (again)
        WritePendingFrame(link, again->first, again->second);
}

void OnMessage(LinkState& link, const std::vector<uint8_t>& data) {
    if (!link.Codecs || !link.Codecs->DecodeProc)
        return; // no decoder: no verdict, no answer
    const auto length = static_cast<int32_t>(data.size());
    std::vector<char> encoded(data.begin(), data.end());
    encoded.push_back(0);
    std::vector<char> decoded(data.size() / 2 + 1, 0);
    const int32_t status = link.Codecs->DecodeProc(decoded.data(), encoded.data(), length) & 0xFF;
    {
        std::lock_guard lock(link.Lock);
        link.DecodeStatus = status;
    }
    if (status != 0) {
        WriteControl(link, CmdResend);
        std::lock_guard lock(link.Lock);
        link.DecodeStatus = 0;
        return;
    }
    WriteControl(link, CmdAck);
    {
        std::lock_guard lock(link.Lock);
        link.ReceivedText.emplace_back(decoded.data());
    }
    OnUi(link, [&link] {
        if (!link.ChatWindow) {
            link.Ui->TimerNewMessage->SetEnabled(true);
            return;
        }
        try {
            link.Ui->ShowIncomingMessage();
        } catch (...) {
            throw LinkError(text::ChatWindowFailed);
        }
    });
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool StopRequested(LinkState& link) {
    std::lock_guard lock(link.Lock);
    return link.StopReader;
}

// The port went away under the reader: the connection is broken.
void PortLost(LinkState& link) {
    ShowEnded(link, Disconnect(link), text::StatusBroken, std::nullopt);
}

enum class ReadOutcome { Ok, Cancelled, Lost };

// Takes everything the port holds now.
ReadOutcome ReadAvailable(serial::Port& port, FrameReader& reader, std::vector<uint8_t>& buffer,
                          std::vector<FrameEvent>& events, bool& gotAny) {
    for (;;) {
        std::size_t waiting = 0;
        serial::Error error = port.BytesWaiting(waiting);
        if (error == serial::Error::None) {
            buffer.resize(std::max<std::size_t>(waiting, 256));
            std::size_t got = 0;
            error = port.Read(buffer.data(), buffer.size(), got);
            if (error == serial::Error::None) {
                if (got == 0)
                    return ReadOutcome::Ok;
                gotAny = true;
                reader.Feed(buffer.data(), got, NowMs(), events);
                continue;
            }
        }
        return error == serial::Error::Cancelled ? ReadOutcome::Cancelled : ReadOutcome::Lost;
    }
}

void ReaderLoop(LinkState& link, serial::Port& port) {
    FrameReader reader;
    std::vector<FrameEvent> events;
    std::vector<uint8_t> buffer;
    int emptyWakes = 0;
    while (!StopRequested(link)) {
        serial::Dcb dcb;
        if (port.GetState(dcb) == serial::Error::None)
            reader.SetSilenceLimit(FrameReader::SilenceLimitFor(dcb.BaudRate));
        int timeoutMs = -1;
        if (const int64_t deadline = reader.Deadline(); deadline >= 0)
            timeoutMs = static_cast<int>(std::max<int64_t>(0, deadline - NowMs()));

        switch (port.WaitReadable(timeoutMs)) {
        case serial::WaitResult::Readable: {
            bool gotAny = false;
            const ReadOutcome outcome = ReadAvailable(port, reader, buffer, events, gotAny);
            if (outcome == ReadOutcome::Cancelled)
                return;
            emptyWakes = gotAny ? 0 : emptyWakes + 1;
            // Readable again and again with nothing to read is a hang-up the port did not name.
            if (outcome == ReadOutcome::Lost || emptyWakes >= MaxEmptyWakes) {
                if (!StopRequested(link))
                    PortLost(link);
                return;
            }
            break;
        }
        case serial::WaitResult::Timeout:
            reader.Expire(NowMs(), events);
            break;
        case serial::WaitResult::Cancelled:
            return;
        case serial::WaitResult::Failed:
            if (!StopRequested(link))
                PortLost(link);
            return;
        }
        for (const FrameEvent& event : events)
            HandleFrameEvent(link, event);
        events.clear();
    }
}

void ReaderThread(LinkState& link, serial::Port& port) {
    try {
        ReaderLoop(link, port);
    } catch (...) {
        // Connected, the timers and the port stay as they are.
        OnUi(link, [&link] { link.Ui->ShowMessage(text::ReaderFailed); });
    }
}

} // namespace

void HandleFrameEvent(LinkState& link, const FrameEvent& event) {
    switch (event.kind) {
    case FrameEvent::Kind::PortParams:
        OnPortParams(link, event.Frame);
        break;
    case FrameEvent::Kind::Timeouts:
        OnTimeouts(link, event.Frame);
        break;
    case FrameEvent::Kind::Hello:
        OnHello(link);
        break;
    case FrameEvent::Kind::Bye:
        ShowEnded(link, Disconnect(link), text::StatusBroken, std::nullopt);
        break;
    case FrameEvent::Kind::Ack:
        OnAck(link);
        break;
    case FrameEvent::Kind::Resend:
        OnResend(link);
        break;
    case FrameEvent::Kind::Message:
        OnMessage(link, event.Data);
        break;
    case FrameEvent::Kind::Refused:
        WriteControl(link, CmdResend);
        break;
    }
}

void StartReader(LinkState& link) {
    if (!link.PortHandle || link.ReaderThreadHandle.joinable())
        return;
    {
        std::lock_guard lock(link.Lock);
        link.StopReader = false;
    }
    link.ReaderThreadHandle = std::thread(ReaderThread, std::ref(link), std::ref(*link.PortHandle));
    link.ReaderThreadId = link.ReaderThreadHandle.get_id();
}

void StopReader(LinkState& link) {
    {
        std::lock_guard lock(link.Lock);
        link.StopReader = true;
    }
    if (link.PortHandle)
        link.PortHandle->Cancel();
    if (link.ReaderThreadHandle.joinable())
        link.ReaderThreadHandle.join();
    link.ReaderThreadId = {};
}

} // namespace quorvik
