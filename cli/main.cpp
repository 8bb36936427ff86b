// quorvik-cli: the link without windows. Status texts and received lines go
// to standard output, errors to standard error, and each line of standard
// input is sent as one chat message.
#include "cli/Input.h"
#include "link/Codec.h"
#include "link/Connection.h"
#include "link/Cp1251.h"
#include "link/EventLoop.h"
#include "link/OpenPort.h"
#include "link/Send.h"
#include "settings/Options.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace quorvik {
namespace {

constexpr const char* Usage = "usage: quorvik-cli --user NAME --port PORT";
constexpr const char* NotDelivered = "не доставлено: ";

void PrintLine(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void Out(const std::string& utf8) {
    PrintLine(stdout, utf8);
}
void Err(const std::string& utf8) {
    PrintLine(stderr, "! " + utf8);
}

struct Args {
    std::string user;
    std::string port;
};

bool ParseArgs(int argc, char** argv, Args& args) {
    bool haveUser = false;
    bool havePort = false;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--user") == 0) {
            args.user = argv[++i];
            haveUser = true;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--port") == 0) {
            args.port = argv[++i];
            havePort = true;
        } else {
            return false;
        }
    }
    return haveUser && havePort;
}

// Runs f as the application's exception handler would: an error is shown
// and the program goes on.
template <typename F> void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        Err(e.what());
    }
}

// Prints and releases every accepted text that waits.
void ShowReceived(LinkState& link) {
    for (;;) {
        std::string text;
        {
            std::lock_guard lock(link.Lock);
            if (link.ReceivedText.empty())
                return;
            text = std::move(link.ReceivedText.front());
            link.ReceivedText.pop_front();
        }
        Out(Cp1251ToUtf8(text));
    }
}

int Main(int argc, char** argv) {
    Args args;
    if (!ParseArgs(argc, argv, args)) {
        PrintLine(stderr, Usage);
        return 2;
    }
    SignalReceiver signals; // before any thread starts
    EventLoop loop;
    LinkState link;
    LinkUi ui;

    std::vector<std::string> codecMessages;
    const Codec codec = LoadCodec(codecMessages);
    for (const auto& message : codecMessages)
        Err(message);
    link.Codecs = &codec;

    ui.TimerWait = &loop.CreateTimer(1000, [&] { Guarded([&] { TimerWaitTimer(link); }); });
    ui.TimerOptions = &loop.CreateTimer(5500, [&] { Guarded([&] { TimerOptionsTimer(link); }); });
    ui.TimerNewMessage = &loop.CreateTimer(100, [&] {
        ui.TimerNewMessage->SetEnabled(false);
        ShowReceived(link);
    });
    ui.SetStatus = [](const std::string& utf8) { Out("* " + utf8); };
    ui.SetConnectImage = [](int) {};
    ui.ShowIncomingMessage = [&] { ShowReceived(link); };
    ui.ShowMessage = [](const std::string& utf8) { Err(utf8); };
    ui.ReportLine = [](const std::string& line, LineFate fate) {
        if (fate != LineFate::Delivered)
            Err(NotDelivered + Cp1251ToUtf8(line));
    };
    ui.Post = [&](std::function<void()> task) { loop.Post(std::move(task)); };
    link.Ui = &ui;
    // There is no chat window; a marker sends every text straight to the output.
    link.ChatWindow = &ui;
    link.UserName = Utf8ToCp1251(args.user);
    link.PortName = Utf8ToCp1251(args.port);

    Guarded([&] { LoadOptions(link, ui, OptionsPath()); });
    try {
        OpenPort(link, link.PortName);
    } catch (const std::exception& e) {
        Err(e.what());
        return 1;
    }
    Guarded([&] { BeginConnection(link); });

    bool finishing = false;
    bool force = false; // a second signal stops waiting for answers
    auto finish = [&](bool bySignal) {
        force = force || (finishing && bySignal);
        finishing = true;
    };
    {
        InputWatcher input(signals, {[&](std::string line) {
                                         loop.Post([&link, line = std::move(line)] {
                                             Guarded([&] {
                                                 Send(link, ComposeLine(link.UserName, TimeText(),
                                                                        Utf8ToCp1251(line)));
                                             });
                                         });
                                     },
                                     [&] { loop.Post([&] { finish(false); }); },
                                     [&] { loop.Post([&] { finish(true); }); }});
        // Ends once no sent frame waits for its answer: answered, or the
        // answer timer has given up on it.
        const auto settled = [&] {
            if (!finishing)
                return false;
            std::lock_guard lock(link.Lock);
            return force || link.Connected == 0 || link.PendingFrame.empty();
        };
        for (bool done = false; !done;)
            Guarded([&] { done = loop.RunUntil(settled, INT_MAX); });
    }
    int status = 0;
    Guarded([&] { CloseLink(link); });
    try {
        SaveOptions(link, ui, OptionsPath());
    } catch (const std::exception& e) {
        Err(e.what());
        status = 1;
    }
    return status;
}

} // namespace
} // namespace quorvik

int main(int argc, char** argv) {
    try {
        return quorvik::Main(argc, argv);
    } catch (const std::exception& e) {
        quorvik::Err(e.what());
        return 1;
    }
}
