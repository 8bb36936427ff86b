// The chat window: the history view above, the input editor with its
// formatting tool bar and the "Send" panel below. At most one exists; the
// main window names it in LinkState::ChatWindow and puts it in an MDI child.
#pragma once

#include "link/LinkState.h"

#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QTextEdit;

namespace quorvik {

class TEditForm : public QWidget {
    Q_OBJECT
public:
    TEditForm(LinkState& link, const std::string& userName /*cp1251*/, QWidget* parent = nullptr);
    ~TEditForm() override;

    // Caption, history file, caret and focus. Raises the history file's errors;
    // the window stays usable with an empty history.
    void OpenHistory();
    // Shows and pops every text queued in link.ReceivedText, in maroon. UI thread.
    void ShowIncomingMessage();
    // Marks a line (cp1251, as composed) the peer never received.
    void ReportLine(const std::string& line, LineFate fate);
    // The "&Чат" menu the main window merges in while this window is active.
    QMenu* ChatMenu() const { return chatMenu_; }
    // Writes the history; false, with the error shown, when that fails.
    bool SaveHistory();

    // The Send action: composes, shows and sends the input editor's text.
    void SendExecute();
    void PrintTo(QPrinter& printer);

    // Formatting of the input editor's selection (or of the text typed next).
    void ApplyTextColor(const QColor& colour);
    void ApplyBackground(const QColor& colour);
    void DownFontExecute();
    void NormFontExecute();
    void UpFontExecute();
    void BoldExecute();
    void ItalicExecute();
    void UnderlineExecute();

    // The history view's current text attributes: those of the last sent line.
    const QTextCharFormat& HistoryFormat() const { return historyFormat_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildComponents();
    QWidget* BuildBottom();
    void FormCreate();
    void AppendLine(const QString& text, const QTextCharFormat& format);
    void SetFontSize(int points);
    int EditorFontSize() const;
    void ColorExecute();
    void BgColorExecute();
    QPrinter& Printer();
    void Print1Click();
    void Printersetup1Click();
    void ExitExecute();

    LinkState& link_;
    std::string userName_; // cp1251
    QTextCharFormat historyFormat_;

    QTextEdit* editors_ = nullptr; // the history view
    QTextEdit* editor_ = nullptr;  // the input editor
    QLabel* panel4_ = nullptr;     // the "Send" button
    QAction* bold_ = nullptr;
    QAction* italic_ = nullptr;
    QAction* underline_ = nullptr;
    QMenu* chatMenu_ = nullptr;
    QMenu* popupMenu1_ = nullptr;
    QTimer timer1_;
    std::unique_ptr<QPrinter> printer_; // kept from printer setup to printing
};

} // namespace quorvik
