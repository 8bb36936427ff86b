// The history reader over any bytes. What it loads must write out and read
// back to the same text: nothing in the text may turn into markup.
#include "ui/Rtf.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fonts and layout want an application; it lives as long as the process.
    static int argc = 1;
    static char name[] = "fuzz_rtf";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static const auto app = std::make_unique<QGuiApplication>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray rtf(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QTextDocument loaded;
    quorvik::ReadRtf(rtf, loaded);

    QTextDocument again;
    quorvik::ReadRtf(quorvik::WriteRtf(loaded), again);
    if (again.toPlainText() != loaded.toPlainText())
        std::abort();
    return 0;
}
