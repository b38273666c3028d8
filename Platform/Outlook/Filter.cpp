#include "Platform/Outlook/Filter.h"

using namespace Qt::StringLiterals;

namespace kv::outlook::detail {

namespace {

// The quoted value starting at i (its quote doubled inside stands for itself);
// i ends after the closing quote. Nothing when the quote is not closed.
std::optional<QString> ReadQuoted(const QString& text, qsizetype& i)
{
    const QChar q = text.at(i++);
    QString value;
    while (i < text.size()) {
        const QChar c = text.at(i++);
        if (c != q) {
            value.append(c);
            continue;
        }
        if (i < text.size() && text.at(i) == q) {
            value.append(q);
            ++i;
            continue;
        }
        return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<ParsedFilter> ParseFilter(const QString& text, QString* why)
{
    if (text.size() > MaxFilterLength) {
        *why = u"the condition is too long"_s;
        return std::nullopt;
    }
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipSpaces = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    skipSpaces();
    if (i >= n || text.at(i) != u'[') {
        *why = u"the condition must start with a property name in brackets"_s;
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(u']', i + 1);
    if (close < 0) {
        *why = u"the property name has no closing bracket"_s;
        return std::nullopt;
    }
    ParsedFilter f;
    f.name = text.mid(i + 1, close - i - 1).trimmed();
    if (f.name.isEmpty()) {
        *why = u"the property name is empty"_s;
        return std::nullopt;
    }
    for (const QChar c : f.name) {
        if (c.category() == QChar::Other_Control || c == u'[') {
            *why = u"the property name is not valid"_s;
            return std::nullopt;
        }
    }
    i = close + 1;
    skipSpaces();
    if (i >= n || text.at(i) != u'=') {
        *why = u"only the comparison \"=\" is understood"_s;
        return std::nullopt;
    }
    ++i;
    skipSpaces();
    if (i >= n) {
        *why = u"the value is missing"_s;
        return std::nullopt;
    }
    const QChar q = text.at(i);
    if (q == u'\'' || q == u'"') {
        const std::optional<QString> value = ReadQuoted(text, i);
        if (!value) {
            *why = u"the value has no closing quote"_s;
            return std::nullopt;
        }
        f.literal = *value;
        f.quoted = true;
    } else {
        const qsizetype start = i;
        while (i < n && !text.at(i).isSpace())
            ++i;
        const QString word = text.mid(start, i - start);
        bool ok = false;
        const double d = word.toDouble(&ok);
        if (word.compare(u"True"_s, Qt::CaseInsensitive) == 0)
            f.literal = true;
        else if (word.compare(u"False"_s, Qt::CaseInsensitive) == 0)
            f.literal = false;
        else if (ok)
            f.literal = d;
        else {
            *why = u"the value must be quoted, True, False or a number"_s;
            return std::nullopt;
        }
    }
    skipSpaces();
    if (i != n) {
        *why = u"only one condition is understood"_s;
        return std::nullopt;
    }
    return f;
}

} // namespace kv::outlook::detail
