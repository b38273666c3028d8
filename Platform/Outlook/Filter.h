#pragma once
// Find and Restrict filters: "[Name] = 'value'" (a quote inside the value
// doubled), "[Name] = True|False" or "[Name] = number". Parsed here, compared
// in SQL with bound values only.
#include <QString>
#include <QVariant>
#include <optional>

namespace kv::outlook::detail {

struct ParsedFilter {
    QString name;     // between the brackets
    QVariant literal; // QString for a quoted value, bool, or double
    bool quoted = false;
};

// Nothing when the text is not such a filter; why says what is wrong.
std::optional<ParsedFilter> ParseFilter(const QString& text, QString* why);

inline constexpr int MaxFilterLength = 4096;

} // namespace kv::outlook::detail
