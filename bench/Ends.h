// One end of the link as the benchmarks and the soak run drive it: a link,
// its UI loop on a thread of its own, and counters of what its windows would
// have shown. Two of them over the null-modem simulator are two programs.
#pragma once

#include "link/Codec.h"
#include "link/Connection.h"
#include "link/Cp1251.h"
#include "link/EventLoop.h"
#include "link/LinkMessages.h"
#include "link/OpenPort.h"
#include "link/Send.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvik::bench {

using Clock = std::chrono::steady_clock;

inline Codec LoadTheCodec() {
    std::vector<std::string> messages;
    Codec codec = LoadCodecFrom(std::string(QUORVIK_BIN_DIR) + "/" + CodecLibraryName(), messages);
    if (!codec.CodeProc || !codec.DecodeProc)
        throw std::runtime_error("codec not loaded: " +
                                 (messages.empty() ? std::string("?") : messages.front()));
    return codec;
}

class BenchEnd {
public:
    // Called on the UI thread for every fate of a sent line and every text shown.
    std::function<void(const std::string& line, LineFate fate)> OnFate;
    std::function<void(const std::string& line)> OnShown;

    BenchEnd(const std::string& userUtf8, const Codec& codec) {
        link.Codecs = &codec;
        link.UserName = Utf8ToCp1251(userUtf8);
        ui_.TimerWait =
            &loop_.CreateTimer(1000, [this] { Guarded([&] { TimerWaitTimer(link); }); });
        ui_.TimerOptions =
            &loop_.CreateTimer(200, [this] { Guarded([&] { TimerOptionsTimer(link); }); });
        ui_.TimerNewMessage = &loop_.CreateTimer(100, [this] {
            ui_.TimerNewMessage->SetEnabled(false);
            ShowReceived();
        });
        ui_.SetStatus = [this](const std::string& text) { Record([&] { ++statuses_[text]; }); };
        ui_.SetConnectImage = [](int) {};
        ui_.ShowIncomingMessage = [this] { ShowReceived(); };
        ui_.ShowMessage = [this](const std::string& text) {
            Record([&] { errors_.push_back(text); });
        };
        ui_.ReportLine = [this](const std::string& line, LineFate fate) {
            if (OnFate)
                OnFate(line, fate);
            Record([&] { ++fates_[fate]; });
        };
        ui_.Post = [this](std::function<void()> task) { loop_.Post(std::move(task)); };
        link.Ui = &ui_;
        link.ChatWindow = &ui_;
        thread_ = std::thread([this] {
            uiThreadId_ = gettid();
            for (bool done = false; !done;)
                Guarded([&] {
                    loop_.Run();
                    done = true;
                });
        });
    }
    ~BenchEnd() {
        Do([this] { CloseLink(link); });
        loop_.Quit();
        thread_.join();
    }
    BenchEnd(const BenchEnd&) = delete;
    BenchEnd& operator=(const BenchEnd&) = delete;

    // Runs f on the UI thread and returns its result.
    template <typename F> auto Do(F f) -> decltype(f()) {
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        loop_.Post([task] { (*task)(); });
        return task->get_future().get();
    }
    void Post(std::function<void()> task) { loop_.Post(std::move(task)); }

    bool WaitFor(const std::function<bool()>& ready, int ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
    bool WaitForStatus(const std::string& text, int count, int ms) {
        return WaitFor([&] { return statuses_[text] >= count; }, ms);
    }
    int FateCount(LineFate fate) {
        std::lock_guard lock(mutex_);
        return fates_[fate];
    }
    std::vector<std::string> Errors() {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    bool Connected() {
        std::lock_guard lock(link.Lock);
        return link.Connected == 1;
    }
    pid_t UiThreadId() const { return uiThreadId_; }
    // Sets the open port's bit rate, as the port options dialog would.
    void SetBaudRate(uint32_t rate) {
        Do([&] {
            serial::Dcb dcb;
            if (link.PortHandle->GetState(dcb) != serial::Error::None)
                throw std::runtime_error("cannot read the port's state");
            dcb.BaudRate = rate;
            if (link.PortHandle->SetState(dcb) != serial::Error::None)
                throw std::runtime_error("the port refused the bit rate");
        });
    }

    LinkState link;

private:
    template <typename F> void Guarded(F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            Record([&] { errors_.push_back(e.what()); });
        }
    }
    template <typename F> void Record(F&& f) {
        {
            std::lock_guard lock(mutex_);
            f();
        }
        changed_.notify_all();
    }
    void ShowReceived() {
        std::deque<std::string> texts;
        {
            std::lock_guard lock(link.Lock);
            texts.swap(link.ReceivedText);
        }
        if (OnShown)
            for (const auto& t : texts)
                OnShown(t);
    }

    EventLoop loop_;
    LinkUi ui_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, int> statuses_;
    std::map<LineFate, int> fates_;
    std::vector<std::string> errors_;
    pid_t uiThreadId_ = 0;
    std::thread thread_;
};

// a greets b; both have taken the options once this returns true.
inline bool ConnectPair(BenchEnd& a, BenchEnd& b, const std::string& portA,
                        const std::string& portB) {
    a.Do([&] { OpenPort(a.link, portA); });
    b.Do([&] { OpenPort(b.link, portB); });
    a.Do([&] { BeginConnection(a.link); });
    return a.WaitForStatus(text::StatusEstablished, 1, 10000) &&
           b.WaitForStatus(text::StatusEstablishedByPeer, 1, 10000);
}

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The value at quantile q of sorted figures.
inline double Quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty())
        return 0;
    const auto i = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

} // namespace quorvik::bench
