#include "Formats.h"

#include <QLocale>
#include <charconv>
#include <cmath>

using namespace formats;

namespace {

struct Picture {
    bool grouping = false;
    int minDecimals = 0;
    int maxDecimals = 0;
    int minIntegers = 0;
    QString prefix, suffix;
};

Picture parsePicture(const QString& picture) {
    Picture p;
    int i = 0;
    const int n = int(picture.size());
    auto isDigitChar = [](QChar c) { return c == u'#' || c == u'0' || c == u','; };
    while (i < n && !isDigitChar(picture[i]) && picture[i] != u'.')
        p.prefix += picture[i++];
    bool afterPoint = false;
    for (; i < n; ++i) {
        const QChar c = picture[i];
        if (c == u'.') {
            afterPoint = true;
        } else if (c == u',' && !afterPoint) {
            p.grouping = true;
        } else if (c == u'0') {
            if (afterPoint)
                ++p.minDecimals, ++p.maxDecimals;
            else
                ++p.minIntegers;
        } else if (c == u'#') {
            if (afterPoint) ++p.maxDecimals;
        } else {
            break;
        }
    }
    p.suffix = picture.mid(i);
    return p;
}

QString groupThousands(const QString& digits) {
    QString out;
    const int n = int(digits.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += ThousandSeparator;
        out += digits[i];
    }
    return out;
}

} // namespace

QString FormatFloat(const QString& picture, double value) {
    const Picture p = parsePicture(picture);
    // Round half away from zero at the shown decimals, as a person reads money.
    const double scale = std::pow(10.0, p.maxDecimals);
    double rounded = std::round(std::abs(value) * scale + 1e-9 * scale) / scale;
    if (std::abs(value) * scale > 1e15) rounded = std::abs(value);
    QString text = QString::number(rounded, 'f', p.maxDecimals);
    QString intPart = text.section(u'.', 0, 0);
    QString decPart = p.maxDecimals > 0 ? text.section(u'.', 1, 1) : QString();
    while (decPart.size() > p.minDecimals && decPart.endsWith(u'0'))
        decPart.chop(1);
    if (intPart == u"0" && p.minIntegers == 0) intPart.clear();
    while (intPart.size() < p.minIntegers)
        intPart.prepend(u'0');
    if (p.grouping) intPart = groupThousands(intPart);
    const bool negative = value < 0 && (rounded != 0.0);
    QString out = p.prefix;
    if (negative) out += u'-';
    out += intPart;
    if (!decPart.isEmpty()) out += DecimalSeparator + decPart;
    return out + p.suffix;
}

QString FloatToStr(double value) {
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, end - buffer);
    text.replace(u'.', DecimalSeparator);
    return text;
}

std::optional<double> StrToFloat(const QString& input) {
    QString text = input.trimmed();
    if (text.endsWith(u'%')) text = text.chopped(1).trimmed();
    if (text.isEmpty()) return std::nullopt;
    // Grouping dots are accepted only where they group thousands.
    if (text.contains(ThousandSeparator)) {
        const QString intPart = text.section(DecimalSeparator, 0, 0);
        const QString unsignedInt =
            intPart.startsWith(u'-') || intPart.startsWith(u'+') ? intPart.mid(1) : intPart;
        const QStringList groups = unsignedInt.split(ThousandSeparator);
        for (int i = 1; i < groups.size(); ++i)
            if (groups[i].size() != 3) return std::nullopt;
        if (groups.first().isEmpty() || groups.first().size() > 3) return std::nullopt;
        if (text.section(DecimalSeparator, 1).contains(ThousandSeparator)) return std::nullopt;
        text.remove(ThousandSeparator);
    }
    if (text.count(DecimalSeparator) > 1) return std::nullopt;
    text.replace(DecimalSeparator, u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

QString Format(const QString& pattern, const QString& argument) {
    QString text = pattern;
    const qsizetype at = text.indexOf(QStringLiteral("%s"));
    if (at >= 0) text.replace(at, 2, argument);
    return text;
}
