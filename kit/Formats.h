#pragma once
// Number formats with the host's regional separators: "." groups thousands, "," is the decimal.

#include <QString>
#include <optional>

namespace formats {
constexpr QChar DecimalSeparator = u',';
constexpr QChar ThousandSeparator = u'.';
} // namespace formats

// Formats by a picture such as "#,##0.00 %": "," in the picture asks for grouping, the digits
// after "." fix the decimals, and text after the digits is copied as it stands.
QString FormatFloat(const QString& picture, double value);
// The shortest text that reads back as the same number, with the decimal comma.
QString FloatToStr(double value);
// Reads "1.234,5", "12,50 %", "-3" and the like; nothing for text that is not a number.
std::optional<double> StrToFloat(const QString& text);
// A message with one "%s" placeholder filled by the argument, as plain text substitution.
QString Format(const QString& pattern, const QString& argument);
