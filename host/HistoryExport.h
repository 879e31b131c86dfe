#pragma once
// The history rows shown, as a CSV file an auditor opens in a spreadsheet.

#include "HistoryDecode.h"

#include <QByteArray>

// UTF-8 with a byte-order mark (so that spreadsheets read the accents), fields separated by ";"
// as Brazilian spreadsheets expect, quoted when they hold ";", quotes or line breaks; one line
// per row after the column titles, lines ended by CR LF.
QByteArray historyCsv(const QVector<HistoryEntry>& rows);
