#include "cli/wrapping.h"

#include <QStringList>

namespace {

// A line that reached the last column would make some terminals break it
// again, or scroll: every line stays short of it.
QStringList wrapLine(const QString& line, int columns) {
    int indent = 0;
    while (indent < line.size() && line.at(indent) == QLatin1Char(' '))
        ++indent;
    QString text = line;
    int hang = text.indexOf(QChar(kHangHere));
    if (hang >= 0)
        text.remove(hang, 1);
    else
        hang = indent;
    // A hang that leaves too little room is no help.
    if (columns > 1 && hang > columns / 2)
        hang = indent;
    if (columns <= 1 || text.size() < columns)
        return {text};
    QStringList lines;
    QString current = text.left(indent);
    bool fresh = true; // nothing on the line after its indent yet
    for (const QString& word : text.mid(indent).split(QLatin1Char(' '))) {
        if (!fresh && current.size() + 1 + word.size() >= columns) {
            while (current.endsWith(QLatin1Char(' ')))
                current.chop(1);
            lines << current;
            current = QString(hang, QLatin1Char(' '));
            fresh = true;
        }
        // Spaces where a line broke are not carried to the next one.
        if (fresh && word.isEmpty() && !lines.isEmpty())
            continue;
        current += (fresh ? QString() : QStringLiteral(" ")) + word;
        fresh = false;
    }
    lines << current;
    return lines;
}

} // namespace

QString wrapText(const QString& text, int columns) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines << wrapLine(line, columns);
    return lines.join(QLatin1Char('\n')).replace(QChar(kKeepTogether), QLatin1Char(' '));
}
