// The one record the serial link shares between the UI thread and the reader
// thread. The program has one process-wide instance (Link()); every operation
// takes the state it works on, so two ends can run in one process.
#pragma once

#include "link/FrameWriter.h"
#include "link/LinkUi.h"
#include "link/serial/Port.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvik {

struct Codec;

// A MessageFrame sent and not yet answered, with the line it carries.
struct PendingMessage {
    std::vector<uint8_t> Frame;
    std::string Line; // cp1251, as composed
    int Resends = 0;
    uint64_t Id = 0;   // tells an answered frame from a later one
    bool Sent = false; // its last byte has left the port; the answer window runs
};

struct LinkState {
    std::unique_ptr<serial::Port> PortHandle;
    std::thread ReaderThreadHandle;
    serial::Dcb PortDcb;
    std::thread::id ReaderThreadId;
    // The port's own wait and cancel stand in for the overlapped block.
    serial::CommTimeouts PortTimeouts;
    int32_t Connected = 0;
    int32_t DecodeStatus = 0;
    // Unanswered frames, oldest first: each answer applies to the oldest.
    std::deque<PendingMessage> PendingFrame;
    uint64_t NextMessageId = 1;
    // Accepted texts (cp1251) not yet shown, oldest first.
    std::deque<std::string> ReceivedText;
    // The open chat window, owned by the UI; the link only tests it, on the UI thread.
    void* ChatWindow = nullptr;

    // Members the main window holds for the link.
    LinkUi* Ui = nullptr;
    bool OptionsStep = true;
    const Codec* Codecs = nullptr; // CodeProc and DecodeProc
    std::string UserName;          // cp1251
    std::string PortName;          // cp1251

    // Guards the fields both threads use; held briefly, never around I/O or UI work.
    std::mutex Lock;
    // The one writer that puts frames on the line in order.
    std::unique_ptr<FrameWriter> Writer;
    // Set by the reader thread's owner to end the thread.
    bool StopReader = false;
};

// The program's process-wide instance.
LinkState& Link();

} // namespace quorvik
