#include "cli/wrapping.h"

#include <QStringList>

// A line that reached the last column would make some terminals break it
// again, or scroll: every line stays short of it.
QString wrapText(const QString& text, int columns) {
    if (columns <= 1)
        return text;
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        int indent = 0;
        while (indent < line.size() && line.at(indent) == QLatin1Char(' '))
            ++indent;
        const QString lead(indent, QLatin1Char(' '));
        QString current = lead;
        bool empty = true; // nothing after the indent yet
        for (const QString& word : line.mid(indent).split(QLatin1Char(' '))) {
            if (!empty && current.size() + 1 + word.size() >= columns) {
                while (current.size() > indent && current.endsWith(QLatin1Char(' ')))
                    current.chop(1);
                lines << current;
                current = lead + word;
            } else {
                current += (empty ? QString() : QStringLiteral(" ")) + word;
            }
            empty = false;
        }
        lines << current;
    }
    return lines.join(QLatin1Char('\n'));
}
