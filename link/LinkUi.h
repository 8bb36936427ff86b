// The link's user-interface members: the status text, the three link timers,
// the connection node's image and the chat hand-over. The main window owns
// them (the headless front end and the tests stand in for it) and gives them
// to the link. Every member but Post is used on the UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quorvik {

// A timer as the program's platform has them: enabling a running timer does
// not restart it, setting the same interval changes nothing, a new interval
// restarts a running timer, and an interval of 0 does not run.
class LinkTimer {
public:
    virtual ~LinkTimer() = default;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetInterval(uint32_t ms) = 0;
    virtual uint32_t Interval() const = 0;
};

// What became of a chat line that was sent.
enum class LineFate {
    Delivered,    // the peer answered with an AckFrame
    NotConnected, // written while not connected; never sent
    TimedOut,     // no answer in time; the connection ended
    GivenUp,      // refused too many times; the connection ended
    Broken,       // the connection ended (a ByeFrame, the port lost) before an answer
};

// Images of the connection node.
inline constexpr int ImageConnected = 2;
inline constexpr int ImageDisconnected = 3;

struct LinkUi {
    LinkTimer* TimerWait = nullptr;
    LinkTimer* TimerOptions = nullptr;
    LinkTimer* TimerNewMessage = nullptr;

    std::function<void(const std::string& utf8)> SetStatus;
    std::function<void(int image)> SetConnectImage;
    // The chat window is open: show every text queued in ReceivedText.
    std::function<void()> ShowIncomingMessage;
    // A plain message box (the reader's "Ошибка", the codec's messages).
    std::function<void(const std::string& utf8)> ShowMessage;
    // The fate of a sent line (cp1251 text as it was composed).
    std::function<void(const std::string& line, LineFate fate)> ReportLine;
    // The dispatcher: runs the task on the UI thread; callable from any thread.
    std::function<void(std::function<void()> task)> Post;
};

} // namespace quorvik
