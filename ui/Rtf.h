// The history file format: rich text (RTF) as a rich-edit control writes it,
// read into and written from a QTextDocument.
#pragma once

#include <QByteArray>

class QTextDocument;

namespace quorvik {

// Replaces the document's content with what the file holds. Malformed input
// loads as far as it can be understood; input that is not RTF at all loads as
// plain text in code page 1251, as the rich-edit control does.
void ReadRtf(const QByteArray& rtf, QTextDocument& document);

// The document as RTF: one \par per block, colours, background colours, sizes,
// bold, italic, underline and font faces of each run. Text never becomes markup.
QByteArray WriteRtf(const QTextDocument& document);

} // namespace quorvik
